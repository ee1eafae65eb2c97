// The driver a device has, and the platform calls that move a device to
// another driver or to none: what the uninstall works with. Devices are
// named by instance ID and may be present or not.
//
// Three things here stand behind seams, for what Wine cannot show:
// - whether a device is present (Wine counts every device as present);
// - the platform's driver-package uninstall (DiUninstallDriverW, which moves
//   every device of a package to the next-best driver or none and removes
//   the package; Windows 10 1703 and later have it, Wine 8 does not);
// - the stand-in for it where the platform lacks it (here and on earlier
//   Windows): each device gets the next-best driver the INF folder offers,
//   or, where there is none, its driver is taken off.
#pragma once

#include <windows.h>

#include <vector>

#include "support/str.h"

struct DEVICEDRIVER {
    CStr instanceId;
    CStrList hardwareIds; // the device's hardware IDs, in order
    CStr inf;             // the INF as the system's INF folder holds it; empty: no driver
    CStr section;         // the install section the driver was installed from
    CStr service;
    CStr version;         // the driver's version (DriverVersion, else the INF's DriverVer)
};

// The driver of one device; false when the device is not known.
bool ReadDeviceDriver(const wchar_t* instanceId, DEVICEDRIVER* driver);
// Whether a device's driver was being taken off when a run ended: its
// "Driver" value is empty or names a driver key that is gone, or a
// "Service" value is left without a "Driver" value.
bool IsDriverPartlyRemoved(const wchar_t* instanceId);
// Every device, present or not, whose driver is the INF infName (a file
// name in the INF folder, letter case aside), in enumeration order.
std::vector<DEVICEDRIVER> FindDevicesUsingInf(const wchar_t* infName);
// Whether any device, present or not, has a driver that installs service
// (the device names it as its service and its driver's INF adds it).
bool IsServiceUsedByDevices(const wchar_t* service);

// "%windir%\inf\<name>"; empty for a name that is not plain.
CStr InfFolderPath(const wchar_t* infName);
// Whether the INF at infPath can install the driver for hardwareIds without
// a file missing: every file the installation copies is beside it, or in
// the folder the platform keeps the package in (its driver store).
bool IsDriverPackageComplete(const wchar_t* infPath, const CStrList& hardwareIds);

// The next-best driver the INF folder offers the device: the best ranked
// compatible driver whose INF is not excludeInf and is complete. False when
// there is none.
bool FindNextBestDriver(const DEVICEDRIVER& device, const wchar_t* excludeInf, CStr* infName, CStr* version);

// Whether the device is present now.
bool IsDevicePresentNow(const wchar_t* instanceId);
typedef bool (*PFN_DEVICEPRESENCE)(const wchar_t* instanceId);
// Tests only: answers the presence question instead of the platform (null
// clears it); returns the previous answerer.
PFN_DEVICEPRESENCE SetDevicePresenceOverride(PFN_DEVICEPRESENCE presence);

// Installs the driver of the INF at infPath on one device, forced. A present
// device is updated by hardware ID through the device installation library
// (every present device with that ID is); one that is not present gets the
// driver through the class installer, from that INF alone. *error receives
// the platform's code on failure.
bool InstallDriverOnDevice(const DEVICEDRIVER& device, const wchar_t* hardwareId, const wchar_t* infPath,
                           bool present, BOOL* reboot, DWORD* error);
// Takes a device's driver off, leaving it with none: its driver key, driver
// and service properties go. *error on failure.
bool RemoveDeviceDriver(const wchar_t* instanceId, DWORD* error);

// The platform's driver-package uninstall.
class IDriverPackageUninstall
{
public:
    virtual ~IDriverPackageUninstall() {}
    // Whether the platform has it.
    virtual bool Available() = 0;
    // Moves every device whose driver is the INF at infPath (in the INF
    // folder) to the next-best driver or none, and removes the package.
    virtual BOOL UninstallDriver(const wchar_t* infPath, BOOL* reboot) = 0;
};
// The one in use: the override a test set, else the platform's.
IDriverPackageUninstall& DriverPackageUninstall();
// Tests only (null clears it); returns the previous one.
IDriverPackageUninstall* SetDriverPackageUninstallOverride(IDriverPackageUninstall* uninstall);

// Removes an INF (a file name) from the system's INF folder with the
// platform's call, which refuses while a device uses it, and checks that the
// file is gone. Where the call reports success and leaves the file (Wine),
// and no device uses the INF, it is removed forcibly. ERROR_SUCCESS when
// the INF is gone, else the error (ERROR_SHARING_VIOLATION: a device still
// uses it).
DWORD RemovePublishedInf(const wchar_t* infName);
