#include "inf/infplatform.h"

#include "support/handles.h"
#include "support/str.h"

namespace {

typedef BOOL(WINAPI* PFN_SETSELECTEDDRIVER)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W);
typedef BOOL(WINAPI* PFN_UPDATEDRIVER)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

// A library of the system directory, loaded by its full path.
HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t directory[MAX_PATH] = {};
    UINT len = GetSystemDirectoryW(directory, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return nullptr;
    CStr path(directory);
    path += L"\\";
    path += name;
    if (path.GetLength() >= MAX_PATH)
        return nullptr;
    return LoadLibraryW(path.GetString());
}

} // namespace

CInfPlatformCalls& InfPlatform()
{
    static CInfPlatformCalls calls = DefaultInfPlatform();
    return calls;
}

CInfPlatformCalls DefaultInfPlatform()
{
    CInfPlatformCalls calls;
    calls.pBuildDriverInfoList = &SetupDiBuildDriverInfoList;
    calls.pEnumDriverInfo = &SetupDiEnumDriverInfoW;
    calls.pSetSelectedDriver = &SelectDriverIfImplemented;
    calls.pCallClassInstaller = &SetupDiCallClassInstaller;
    calls.pInstallServicesFromInfSection = &SetupInstallServicesFromInfSectionW;
    calls.pUpdateDriverForPlugAndPlayDevices = &UpdateDriverFromNewDev;
    return calls;
}

bool IsRunningOnWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

BOOL WINAPI SelectDriverIfImplemented(HDEVINFO set, PSP_DEVINFO_DATA element, PSP_DRVINFO_DATA_W driver)
{
    // Whether the export is Wine's stub cannot be told from the export
    // itself, so Wine is recognised by its ntdll.
    if (IsRunningOnWine()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    CUniqueLibrary library(LoadSystemLibrary(L"setupapi.dll"));
    PFN_SETSELECTEDDRIVER select = nullptr;
    if (library.valid())
        select = reinterpret_cast<PFN_SETSELECTEDDRIVER>(GetProcAddress(library.get(), "SetupDiSetSelectedDriverW"));
    if (select == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return select(set, element, driver);
}

BOOL WINAPI UpdateDriverFromNewDev(HWND owner, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags,
                                   PBOOL rebootRequired)
{
    CUniqueLibrary library(LoadSystemLibrary(L"newdev.dll"));
    if (!library.valid())
        return FALSE;
    PFN_UPDATEDRIVER update =
        reinterpret_cast<PFN_UPDATEDRIVER>(GetProcAddress(library.get(), "UpdateDriverForPlugAndPlayDevicesW"));
    if (update == nullptr)
        return FALSE;
    return update(owner, hardwareId, infPath, flags, rebootRequired);
}
