// The SetupAPI calls of the INF install operations that a test has to be
// able to stand in for, gathered in one table (the device installation
// library has its own stand-in, in inf/newdevlibrary.h). The product always
// runs with the table as DefaultInfPlatform() builds it; only tests replace
// entries (and put the defaults back), for what the platform they run on
// cannot produce: a service installer that reports an existing service, a
// class installer that fails or asks for a restart, or a class-driver list
// with entries to select.
#pragma once

#include <windows.h>
#include <setupapi.h>

struct CInfPlatformCalls {
    BOOL(WINAPI* pBuildDriverInfoList)(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD driverType);
    BOOL(WINAPI* pEnumDriverInfo)(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD driverType, DWORD index,
                                  PSP_DRVINFO_DATA_W driver);
    BOOL(WINAPI* pSetSelectedDriver)(HDEVINFO set, PSP_DEVINFO_DATA element, PSP_DRVINFO_DATA_W driver);
    BOOL(WINAPI* pCallClassInstaller)(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA element);
    BOOL(WINAPI* pInstallServicesFromInfSection)(HINF inf, PCWSTR section, DWORD flags);
};

// The table in use.
CInfPlatformCalls& InfPlatform();
// The platform's own calls.
CInfPlatformCalls DefaultInfPlatform();

// The platform's driver selection, looked up in the system's setupapi.dll at
// run time. It fails with ERROR_CALL_NOT_IMPLEMENTED, without calling
// anything, when the function is missing or when the process runs on Wine:
// Wine exports the name as a stub that ends the process when it is called.
BOOL WINAPI SelectDriverIfImplemented(HDEVINFO set, PSP_DEVINFO_DATA element, PSP_DRVINFO_DATA_W driver);

// True when the process runs on Wine (its ntdll exports wine_get_version).
bool IsRunningOnWine();
