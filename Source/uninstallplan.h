// What Uninstall does to a package, worked out before anything changes: the
// what-if property answers it, and Uninstall carries it out.
#pragma once

#include <vector>

#include "devices/devicedrivers.h"
#include "support/str.h"
#include "zolcomp/zolcomp.h"

struct UNINSTALLDEVICE {
    // The device as the host sees it: its driver now, the action and its
    // target, and (once carried out) the outcome.
    ZOL_DEVICE_RESULT record;
    DEVICEDRIVER driver;
    // The hardware ID the driver update goes by: the one the install used,
    // else the device's first.
    CStr hardwareId;
    // ZOL_ACTION_RESTORE_PREVIOUS to one of this component's packages: that
    // package's record key (its kept copy is staged again).
    CStr targetPackage;
    // The INF in the INF folder to install otherwise (restore, next best).
    CStr targetPath;
    bool present;
};

struct UNINSTALLPLAN {
    int packageState;   // ZOL_PACKAGE_*
    CStr laterVersion;  // ZOL_PACKAGE_SUPERSEDED: the version installed over it
    std::vector<UNINSTALLDEVICE> devices;
    UNINSTALLPLAN() : packageState(ZOL_PACKAGE_NOT_INSTALLED) {}
};
