#include "inf/infplatform.h"

#include "support/handles.h"
#include "support/systemlibrary.h"

namespace {

typedef BOOL(WINAPI* PFN_SETSELECTEDDRIVER)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W);

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
