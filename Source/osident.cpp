// Operating-system identification: platform name, version, service pack and
// edition of the running system, matched against the package's list.
#include "support/asciicase.h"
#include "basecomp.h"
#include "osident.h"

#include "support/handles.h"
#include "support/systemlibrary.h"

#include <wchar.h>
#include <wctype.h>

namespace {

typedef void(WINAPI* PFN_GetNativeSystemInfo)(LPSYSTEM_INFO);
typedef BOOL(WINAPI* PFN_GetProductInfo)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// The system folder's kernel32.dll, searched nowhere else.
bool LoadKernel32(CUniqueLibrary& library)
{
    library.reset(LoadSystemLibrary(L"kernel32.dll"));
    return library.valid();
}

WORD ProcessorArchitecture(HMODULE kernel32)
{
    SYSTEM_INFO info = {};
    if (OsQueries().pGetNativeSystemInfo) {
        OsQueries().pGetNativeSystemInfo(&info);
        return info.wProcessorArchitecture;
    }
    PFN_GetNativeSystemInfo native =
        reinterpret_cast<PFN_GetNativeSystemInfo>(GetProcAddress(kernel32, "GetNativeSystemInfo"));
    if (native)
        native(&info);
    else
        GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

bool ReadVersion(OSVERSIONINFOW& version)
{
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) != FALSE;
}

int ServicePackNumber(const wchar_t* text)
{
    while (*text && !(*text >= L'0' && *text <= L'9'))
        ++text;
    int value = 0;
    while (*text >= L'0' && *text <= L'9') {
        if (value > 100000)
            break;
        value = value * 10 + (*text - L'0');
        ++text;
    }
    return value;
}

} // namespace

COsQueries& OsQueries()
{
    static COsQueries queries = {nullptr, nullptr, nullptr};
    return queries;
}

WORD CBaseComponent::GetEditionCode(const wchar_t* name)
{
    static const struct {
        const wchar_t* name;
        WORD mask;
    } editions[] = {
        {L"", 0xFFFF},         {L"srvr", 0xFF05},     {L"core", 0xFF0A},   {L"r2", 0xFF0C},
        {L"r2srvr", 0xFF04},   {L"r2core", 0xFF08},   {L"dc", 0x040F},     {L"dcsrvr", 0x0405},
        {L"dccore", 0x040A},   {L"dcr2", 0x040C},     {L"dcr2srvr", 0x0404}, {L"dcr2core", 0x0408},
        {L"sbs", 0x0205},      {L"sbsr2", 0x0204},    {L"ebs", 0x0206},    {L"ebsr2", 0x0207},
    };
    if (name == nullptr)
        name = L"";
    for (const auto& e : editions) {
        if (EqualsAsciiNoCase(name, e.name))
            return e.mask;
    }
    return 0;
}

WORD CBaseComponent::GetSystemEditionCode(DWORD productType)
{
    int (WINAPI* metrics)(int) = OsQueries().pGetSystemMetrics ? OsQueries().pGetSystemMetrics : GetSystemMetrics;
    bool r2 = metrics(SM_SERVERR2) != 0;
    switch (productType) {
    case PRODUCT_DATACENTER_SERVER: return r2 ? 0x0404 : 0x0405;
    case PRODUCT_SMALLBUSINESS_SERVER:
    case PRODUCT_SMALLBUSINESS_SERVER_PREMIUM: return r2 ? 0x0204 : 0x0205;
    case PRODUCT_DATACENTER_SERVER_CORE: return r2 ? 0x0408 : 0x040A;
    case PRODUCT_STANDARD_SERVER_CORE:
    case PRODUCT_ENTERPRISE_SERVER_CORE: return r2 ? 0x0108 : 0x0102;
    case PRODUCT_MEDIUMBUSINESS_SERVER_MANAGEMENT:
    case PRODUCT_MEDIUMBUSINESS_SERVER_SECURITY:
    case PRODUCT_MEDIUMBUSINESS_SERVER_MESSAGING: return r2 ? 0x0207 : 0x0206;
    default: return r2 ? 0xFF04 : 0xFF05;
    }
}

int CBaseComponent::IsOperatingSystemSupported()
{
    if (m_vSupportedOs.empty())
        return 1;
    CUniqueLibrary kernel32;
    if (!LoadKernel32(kernel32))
        return 0;

    OSVERSIONINFOW version;
    if (!ReadVersion(version))
        return 0;
    int servicePack = ServicePackNumber(version.szCSDVersion);

    const wchar_t* platform = L"";
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        switch (ProcessorArchitecture(kernel32.get())) {
        case PROCESSOR_ARCHITECTURE_INTEL: platform = L"nt"; break;
        case PROCESSOR_ARCHITECTURE_IA64: platform = L"nt64"; break;
        case PROCESSOR_ARCHITECTURE_AMD64: platform = L"nt_x86-64"; break;
        default: platform = L""; break;
        }
    }

    DWORD productType = 0;
    if (version.dwMajorVersion >= 6) {
        PFN_GetProductInfo getProductInfo = OsQueries().pGetProductInfo;
        if (getProductInfo == nullptr)
            getProductInfo = reinterpret_cast<PFN_GetProductInfo>(GetProcAddress(kernel32.get(), "GetProductInfo"));
        if (getProductInfo == nullptr ||
            !getProductInfo(version.dwMajorVersion, version.dwMinorVersion, static_cast<DWORD>(servicePack), 0,
                            &productType))
            productType = 0;
    }
    WORD edition = GetSystemEditionCode(productType);

    for (const SUPPORTEDOS& os : m_vSupportedOs) {
        if (!EqualsAsciiNoCase(os.szPlatform, platform))
            continue;
        if (os.nMajor != -1 && os.nMajor != static_cast<int>(version.dwMajorVersion))
            continue;
        if (os.nMinor != -1 && os.nMinor != static_cast<int>(version.dwMinorVersion))
            continue;
        if (os.nServicePack != -1 && os.nServicePack > servicePack)
            continue;
        if ((os.wEdition & edition) != edition)
            continue;
        return 1;
    }
    return 0;
}

int CBaseComponent::Is64BitOperatingSystem()
{
    CUniqueLibrary kernel32;
    if (!LoadKernel32(kernel32))
        return 0;
    OSVERSIONINFOW version;
    if (!ReadVersion(version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 0;
    switch (ProcessorArchitecture(kernel32.get())) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1548, L"    - Operating system is not 64-bit.\r\n");
        return 0;
    case PROCESSOR_ARCHITECTURE_IA64:
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1535, L"    - Operating system is 64-bit.\r\n");
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1536, L"    - Operating system is IA-64 based.\r\n");
        return 1;
    case PROCESSOR_ARCHITECTURE_AMD64:
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1540, L"    - Operating system is 64-bit.\r\n");
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1541, L"    - Operating system is x64 based.\r\n");
        return 1;
    case PROCESSOR_ARCHITECTURE_IA32_ON_WIN64:
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1545, L"    - Operating system is 64-bit.\r\n");
        return 1;
    default:
        return 0;
    }
}
