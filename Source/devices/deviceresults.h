// The per-device results a host reads through property 10: which supported
// devices are present and the driver each has, and after an installation
// what became of each.
#pragma once

#include <windows.h>

#include <vector>

#include "zolcomp/zolcomp.h"
#include "support/str.h"

// What one driver update call did, for one hardware ID.
struct UPDATEOUTCOME {
    CStr hardwareId;
    int updated;   // the call succeeded
    DWORD error;   // the platform's code when it did not
    int restart;   // the call asked for a restart
};

// One present device that lists a supported hardware ID.
struct SUPPORTEDDEVICE {
    ZOL_DEVICE_RESULT record;
    // Every supported ID the device lists, in the supported list's order;
    // the first is the record's hardware ID.
    CStrList ids;
};
typedef std::vector<SUPPORTEDDEVICE> CSupportedDevices;

// The present devices that list one of supportedIds (by the presence test's
// rules), in enumeration order, each with the driver it has now and the
// outcome ZOL_DEVICE_PRESENT.
CSupportedDevices FindSupportedDevices(const CStrList& supportedIds);
// The same for the devices named by instanceIds only, in that order, each
// read afresh: one that is no longer present, or no longer lists one of
// supportedIds, is left out. Costs one look per device named instead of an
// enumeration of every device.
CSupportedDevices FindSupportedDevicesAmong(const CStrList& instanceIds, const CStrList& supportedIds);
// The version field of "DriverVer" (date,version) in the INF folder's copy of
// infName, for a platform that does not record a driver's version beside it;
// out stays empty when there is none.
void ReadInstalledInfVersion(const wchar_t* infName, wchar_t* out, size_t chars);
// Reads the service, INF and driver version each device has now.
void ReadCurrentDrivers(CSupportedDevices& devices);
// Every device: not attempted, for reason.
void MarkNotAttempted(CSupportedDevices& devices, int reason);
// Each device's outcome from the update calls for the IDs it lists: failed
// (with the first failure's code) when one of them failed, else updated;
// a restart when one of them asked for it. A device none of the calls
// named stays as it was.
void ApplyUpdateOutcomes(CSupportedDevices& devices, const std::vector<UPDATEOUTCOME>& outcomes);
// Properties 10 and 11: the records into a host's block of capacityBytes
// (see ZOL_PROP_DEVICE_RESULTS); packageState goes to its header.
int CopyDeviceResults(const CSupportedDevices& devices, ZOL_DEVICE_RESULTS* out, int capacityBytes,
                      int packageState = 0);
