#include "inf/infplatform.h"

#include "devices/newdevlibrary.h"
#include "support/handles.h"
#include "support/str.h"

namespace {

typedef BOOL(WINAPI* PFN_SETSELECTEDDRIVER)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W);

// Full path of a library of the system directory; empty when it does not
// fit a path buffer.
CStr SystemLibraryPath(const wchar_t* name)
{
    wchar_t directory[MAX_PATH] = {};
    UINT len = GetSystemDirectoryW(directory, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return CStr();
    CStr path(directory);
    path += L"\\";
    path += name;
    return path.GetLength() < MAX_PATH ? path : CStr();
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
    CStr path = SystemLibraryPath(L"setupapi.dll");
    CUniqueLibrary library(path.IsEmpty() ? nullptr : LoadLibraryW(path.GetString()));
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
    CStr path = SystemLibraryPath(L"newdev.dll");
    CNewDevLibrary library;
    if (path.IsEmpty() || !library.Load(path.GetString()) || !library.FindUpdateFunction()) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return library.UpdateDriver(hardwareId, infPath, flags, rebootRequired);
}
