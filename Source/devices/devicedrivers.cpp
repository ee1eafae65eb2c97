#include "devices/devicedrivers.h"

#include "devices/deviceresults.h"
#include "inf/infdriverfootprint.h"
#include "inf/infpackagecheck.h"
#include "inf/infplatform.h"
#include "inf/infutil.h"
#include "inf/newdevlibrary.h"
#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/systemlibrary.h"
#include "support/wformat.h"

#include <cfgmgr32.h>
#include <newdev.h>
#include <wchar.h>

namespace {

// A first guess for property reads; the platform says how much more it needs.
const DWORD kFirstPropertyBytes = 1024;
const size_t kDriverValueChars = MAX_PATH;
const size_t kVersionChars = 64;

PFN_DEVICEPRESENCE g_pPresenceOverride = nullptr;
IDriverPackageUninstall* g_pPackageUninstallOverride = nullptr;

// A device property of any size; false when it is missing or of another
// type. Two spare characters keep a text without its terminators ended.
bool ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, DWORD expectedType,
                  std::vector<wchar_t>* buffer)
{
    DWORD bytes = kFirstPropertyBytes;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buffer->assign(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD type = 0, required = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set, data, property, &type, reinterpret_cast<BYTE*>(buffer->data()),
                                              bytes, &required))
            return type == expectedType;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= bytes)
            return false;
        bytes = required;
    }
    return false;
}

// Wine 8 writes an empty value for a property set without a buffer instead
// of deleting it, and its next driver update takes an empty "Driver" value
// for the name of the device's driver key: it writes the driver's values
// into the class key itself and leaves the device without a driver. A
// property that still reads after its deletion is deleted from the device's
// key. On Windows the platform's call has deleted it and nothing reads.
bool DeletePropertiesLeftEmpty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD* error)
{
    static const struct {
        DWORD property;
        const wchar_t* value;
    } kProperties[] = {{SPDRP_DRIVER, L"Driver"}, {SPDRP_SERVICE, L"Service"}};
    wchar_t instance[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, data, instance, MAX_DEVICE_ID_LEN, nullptr)) {
        *error = GetLastError();
        return false;
    }
    for (const auto& p : kProperties) {
        std::vector<wchar_t> left;
        if (!ReadProperty(set, data, p.property, REG_SZ, &left))
            continue;
        std::wstring path = FormatWide(L"SYSTEM\\CurrentControlSet\\Enum\\%s", instance);
        CUniqueRegKey key;
        LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, key.put());
        if (rc == ERROR_SUCCESS)
            rc = (ZOL_CHANGE_POINT("RegDeleteValueW(device property)", p.value), RegDeleteValueW(key.get(), p.value));
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            *error = static_cast<DWORD>(rc);
            return false;
        }
    }
    return true;
}

CStr ReadDriverKeyValue(HKEY key, const wchar_t* name)
{
    std::vector<wchar_t> value(kDriverValueChars + 1, L'\0');
    DWORD type = 0, size = static_cast<DWORD>(kDriverValueChars * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return CStr();
    value[kDriverValueChars] = L'\0';
    return CStr(value.data());
}

void ReadDriverOf(HDEVINFO set, SP_DEVINFO_DATA* data, DEVICEDRIVER* driver)
{
    std::vector<wchar_t> buffer;
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (SetupDiGetDeviceInstanceIdW(set, data, id, MAX_DEVICE_ID_LEN, nullptr))
        driver->instanceId = id;
    if (ReadProperty(set, data, SPDRP_HARDWAREID, REG_MULTI_SZ, &buffer)) {
        for (const wchar_t* entry = buffer.data(); *entry; entry += wcslen(entry) + 1)
            driver->hardwareIds.push_back(CStr(entry));
    }
    if (ReadProperty(set, data, SPDRP_SERVICE, REG_SZ, &buffer))
        driver->service = buffer.data();
    HKEY raw = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (raw == INVALID_HANDLE_VALUE)
        return;
    CUniqueRegKey key(raw);
    driver->inf = ReadDriverKeyValue(key.get(), L"InfPath");
    driver->section = ReadDriverKeyValue(key.get(), L"InfSection");
    driver->version = ReadDriverKeyValue(key.get(), L"DriverVersion");
    if (driver->version.IsEmpty() && !driver->inf.IsEmpty()) {
        wchar_t version[kVersionChars] = {};
        ReadInstalledInfVersion(driver->inf.GetString(), version, kVersionChars);
        driver->version = version;
    }
}

// Every device the platform knows, present or not.
template <class Visit> void ForEachDevice(Visit visit)
{
    CUniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!set.valid())
        return;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiEnumDeviceInfo(set.get(), index, &data))
            break;
        visit(set.get(), &data);
    }
}

CStr FormatDriverVersion(DWORDLONG version)
{
    return CStr(FormatWide(L"%u.%u.%u.%u", static_cast<unsigned>((version >> 48) & 0xFFFF),
                           static_cast<unsigned>((version >> 32) & 0xFFFF),
                           static_cast<unsigned>((version >> 16) & 0xFFFF), static_cast<unsigned>(version & 0xFFFF))
                .c_str());
}

bool FileExists(const CStr& path)
{
    DWORD attributes = GetFileAttributesW(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder the platform keeps an INF folder's package in (its driver
// store), where it has one; looked up by name, since the oldest platforms
// lack it.
CStr DriverStoreFolder(const wchar_t* infPath)
{
    typedef BOOL(WINAPI * PFN_STORELOCATION)(PCWSTR, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR, DWORD, PDWORD);
    HMODULE setupapi = GetModuleHandleW(L"setupapi.dll");
    PFN_STORELOCATION location =
        setupapi ? reinterpret_cast<PFN_STORELOCATION>(GetProcAddress(setupapi, "SetupGetInfDriverStoreLocationW"))
                 : nullptr;
    wchar_t stored[MAX_PATH] = {};
    if (location == nullptr || !location(infPath, nullptr, nullptr, stored, MAX_PATH, nullptr))
        return CStr();
    stored[MAX_PATH - 1] = L'\0';
    return infutil::DirectoryPart(stored);
}

// The rank the platform gave a driver of a device's list (lower is better).
// Wine 8 exports SetupDiGetDriverInstallParamsW as a stub that ends the
// process, so there it is not called: every driver ranks the same.
DWORD DriverRank(HDEVINFO set, SP_DEVINFO_DATA* data, SP_DRVINFO_DATA_W* driver)
{
    typedef BOOL(WINAPI * PFN_DRIVERPARAMS)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W, PSP_DRVINSTALL_PARAMS);
    if (IsRunningOnWine())
        return 0;
    HMODULE setupapi = GetModuleHandleW(L"setupapi.dll");
    PFN_DRIVERPARAMS params =
        setupapi ? reinterpret_cast<PFN_DRIVERPARAMS>(GetProcAddress(setupapi, "SetupDiGetDriverInstallParamsW"))
                 : nullptr;
    SP_DRVINSTALL_PARAMS installParams = {};
    installParams.cbSize = sizeof(installParams);
    if (params == nullptr || !params(set, data, driver, &installParams))
        return 0;
    return installParams.Rank;
}

// The class installer installs the driver of one INF on a device, present
// or not.
bool InstallThroughClassInstaller(const wchar_t* instanceId, const wchar_t* infPath, BOOL* reboot, DWORD* error)
{
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA data = {sizeof(data)};
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    bool ok = set.valid() && SetupDiOpenDeviceInfoW(set.get(), instanceId, nullptr, 0, &data) &&
              SetupDiGetDeviceInstallParamsW(set.get(), &data, &params) && wcslen(infPath) < MAX_PATH;
    if (ok) {
        wcscpy(params.DriverPath, infPath);
        params.Flags |= DI_ENUMSINGLEINF;
        ok = SetupDiSetDeviceInstallParamsW(set.get(), &data, &params) &&
             InfPlatform().pBuildDriverInfoList(set.get(), &data, SPDIT_COMPATDRIVER) &&
             (ZOL_CHANGE_POINT("DIF_SELECTBESTCOMPATDRV", instanceId),
              InfPlatform().pCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set.get(), &data)) &&
             (ZOL_CHANGE_POINT("DIF_INSTALLDEVICE", instanceId),
              InfPlatform().pCallClassInstaller(DIF_INSTALLDEVICE, set.get(), &data));
    }
    if (!ok) {
        *error = GetLastError();
        return false;
    }
    if (reboot && SetupDiGetDeviceInstallParamsW(set.get(), &data, &params) &&
        (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0)
        *reboot = TRUE;
    return true;
}

// The platform's driver-package uninstall, looked up by name in the system
// folder's device installation library: Windows has it from Windows 10 1703
// on; Wine 8 does not export it.
class CPlatformPackageUninstall : public IDriverPackageUninstall
{
public:
    typedef BOOL(WINAPI* PFN_UNINSTALLDRIVER)(HWND, LPCWSTR, DWORD, PBOOL);

    bool Available() override { return Function() != nullptr; }
    BOOL UninstallDriver(const wchar_t* infPath, BOOL* reboot) override
    {
        PFN_UNINSTALLDRIVER uninstall = Function();
        if (uninstall == nullptr) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return FALSE;
        }
        return (ZOL_CHANGE_POINT("DiUninstallDriverW", infPath), uninstall(nullptr, infPath, 0, reboot));
    }

private:
    PFN_UNINSTALLDRIVER Function()
    {
        if (!m_library.valid() && !IsRunningOnWine())
            m_library.reset(LoadSystemLibrary(L"newdev.dll"));
        return m_library.valid()
                   ? reinterpret_cast<PFN_UNINSTALLDRIVER>(GetProcAddress(m_library.get(), "DiUninstallDriverW"))
                   : nullptr;
    }

    CUniqueLibrary m_library;
};

} // namespace

bool ReadDeviceDriver(const wchar_t* instanceId, DEVICEDRIVER* driver)
{
    if (instanceId == nullptr || driver == nullptr)
        return false;
    *driver = DEVICEDRIVER();
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA data = {sizeof(data)};
    if (!set.valid() || !SetupDiOpenDeviceInfoW(set.get(), instanceId, nullptr, 0, &data))
        return false;
    ReadDriverOf(set.get(), &data, driver);
    return true;
}

bool IsDriverPartlyRemoved(const wchar_t* instanceId)
{
    if (instanceId == nullptr || instanceId[0] == L'\0' || wcslen(instanceId) > MAX_DEVICE_ID_LEN)
        return false;
    CUniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, FormatWide(L"SYSTEM\\CurrentControlSet\\Enum\\%s", instanceId).c_str(), 0,
                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    const bool hasDriver = RegQueryValueExW(key.get(), L"Driver", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    const bool hasService = RegQueryValueExW(key.get(), L"Service", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (!hasDriver)
        return hasService;
    CStr name = ReadDriverKeyValue(key.get(), L"Driver");
    if (name.IsEmpty())
        return true;
    CUniqueRegKey driverKey;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                         FormatWide(L"SYSTEM\\CurrentControlSet\\Control\\Class\\%s", name.GetString()).c_str(), 0,
                         KEY_QUERY_VALUE, driverKey.put()) == ERROR_FILE_NOT_FOUND;
}

std::vector<DEVICEDRIVER> FindDevicesUsingInf(const wchar_t* infName)
{
    std::vector<DEVICEDRIVER> devices;
    if (infName == nullptr || *infName == L'\0')
        return devices;
    ForEachDevice([&](HDEVINFO set, SP_DEVINFO_DATA* data) {
        DEVICEDRIVER driver;
        ReadDriverOf(set, data, &driver);
        if (EqualsAsciiNoCase(driver.inf.GetString(), infName))
            devices.push_back(driver);
    });
    return devices;
}

bool IsServiceUsedByDevices(const wchar_t* service)
{
    bool used = false;
    ForEachDevice([&](HDEVINFO set, SP_DEVINFO_DATA* data) {
        if (used)
            return;
        DEVICEDRIVER driver;
        ReadDriverOf(set, data, &driver);
        if (!EqualsAsciiNoCase(driver.service.GetString(), service))
            return;
        // A device uses the service when its driver installs it. A device
        // whose driver's INF names other services (or none) keeps a stale
        // name where the platform leaves the property as the last driver
        // set it (Wine does); one whose driver cannot be read counts as
        // using it.
        DRIVERFOOTPRINT footprint;
        CStr path = InfFolderPath(driver.inf.GetString());
        if (driver.inf.IsEmpty() || path.IsEmpty() ||
            !ReadDriverFootprint(path.GetString(), driver.hardwareIds, &footprint)) {
            used = true;
            return;
        }
        for (const CStr& name : footprint.services)
            used = used || EqualsAsciiNoCase(name.GetString(), service);
    });
    return used;
}

CStr InfFolderPath(const wchar_t* infName)
{
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    wchar_t path[MAX_PATH];
    if (!IsPlainName(infName) || length == 0 || length >= MAX_PATH ||
        !FormatWideBuffer(path, MAX_PATH, L"%s\\inf\\%s", windows, infName))
        return CStr();
    return CStr(path);
}

bool IsDriverPackageComplete(const wchar_t* infPath, const CStrList& hardwareIds)
{
    CUniqueInf inf(SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf.valid())
        return false;
    CStr beside = infutil::DirectoryPart(infPath);
    CStr store = DriverStoreFolder(infPath);
    PACKAGECHECK check;
    return CheckDriverPackageFiles(inf.get(), hardwareIds,
                                   [&](const wchar_t* relativePath) {
                                       return FileExists(infutil::JoinPath(beside.GetString(), relativePath)) ||
                                              (!store.IsEmpty() &&
                                               FileExists(infutil::JoinPath(store.GetString(), relativePath)));
                                   },
                                   &check);
}

bool FindNextBestDriver(const DEVICEDRIVER& device, const wchar_t* excludeInf, CStr* infName, CStr* version)
{
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA data = {sizeof(data)};
    if (!set.valid() || !SetupDiOpenDeviceInfoW(set.get(), device.instanceId.GetString(), nullptr, 0, &data) ||
        !SetupDiBuildDriverInfoList(set.get(), &data, SPDIT_COMPATDRIVER))
        return false;

    bool found = false;
    DWORD bestRank = 0;
    FILETIME bestDate = {};
    DWORDLONG bestVersion = 0;
    std::vector<BYTE> detailBuffer;
    for (DWORD index = 0;; ++index) {
        SP_DRVINFO_DATA_W driver = {};
        driver.cbSize = sizeof(driver);
        if (!SetupDiEnumDriverInfoW(set.get(), &data, SPDIT_COMPATDRIVER, index, &driver))
            break;
        DWORD required = sizeof(SP_DRVINFO_DETAIL_DATA_W) + 2048;
        bool read = false;
        for (int attempt = 0; attempt < 3 && !read; ++attempt) {
            detailBuffer.assign(required, 0);
            auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detailBuffer.data());
            detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
            DWORD needed = 0;
            read = SetupDiGetDriverInfoDetailW(set.get(), &data, &driver, detail, required, &needed) != FALSE;
            if (!read && (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= required))
                break;
            required = needed;
        }
        if (!read)
            continue;
        const auto* detail = reinterpret_cast<const SP_DRVINFO_DETAIL_DATA_W*>(detailBuffer.data());
        const wchar_t* path = detail->InfFileName;
        const wchar_t* name = path + infutil::FileNameOffset(path);
        if (EqualsAsciiNoCase(name, excludeInf) || !IsDriverPackageComplete(path, device.hardwareIds))
            continue;
        DWORD rank = DriverRank(set.get(), &data, &driver);
        // The best rank wins (lower is better); then the later date, then
        // the higher version, as the platform ranks them.
        bool better = !found || rank < bestRank ||
                      (rank == bestRank && (CompareFileTime(&driver.DriverDate, &bestDate) > 0 ||
                                            (CompareFileTime(&driver.DriverDate, &bestDate) == 0 &&
                                             driver.DriverVersion > bestVersion)));
        if (!better)
            continue;
        found = true;
        bestRank = rank;
        bestDate = driver.DriverDate;
        bestVersion = driver.DriverVersion;
        *infName = name;
        if (driver.DriverVersion != 0) {
            *version = FormatDriverVersion(driver.DriverVersion);
        } else {
            wchar_t text[kVersionChars] = {};
            ReadInstalledInfVersion(name, text, kVersionChars);
            *version = text;
        }
    }
    SetupDiDestroyDriverInfoList(set.get(), &data, SPDIT_COMPATDRIVER);
    return found;
}

bool IsDevicePresentNow(const wchar_t* instanceId)
{
    if (g_pPresenceOverride)
        return g_pPresenceOverride(instanceId);
    // Only a device the platform positively does not find is absent; a
    // platform that cannot answer (Wine's stub) counts every device present.
    DEVINST node = 0;
    std::vector<wchar_t> id(instanceId, instanceId + wcslen(instanceId) + 1);
    return CM_Locate_DevNodeW(&node, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_NO_SUCH_DEVNODE;
}

PFN_DEVICEPRESENCE SetDevicePresenceOverride(PFN_DEVICEPRESENCE presence)
{
    PFN_DEVICEPRESENCE previous = g_pPresenceOverride;
    g_pPresenceOverride = presence;
    return previous;
}

bool InstallDriverOnDevice(const DEVICEDRIVER& device, const wchar_t* hardwareId, const wchar_t* infPath,
                           bool present, BOOL* reboot, DWORD* error)
{
    DWORD ignored = 0;
    if (error == nullptr)
        error = &ignored;
    *error = ERROR_SUCCESS;
    if (!present)
        return InstallThroughClassInstaller(device.instanceId.GetString(), infPath, reboot, error);
    BOOL restart = FALSE;
    SetLastError(ERROR_SUCCESS);
    if (!UpdateDriverFromNewDev(hardwareId, infPath, INSTALLFLAG_FORCE, &restart)) {
        *error = GetLastError();
        return false;
    }
    if (restart && reboot)
        *reboot = TRUE;
    return true;
}

bool RemoveDeviceDriver(const wchar_t* instanceId, DWORD* error)
{
    DWORD ignored = 0;
    if (error == nullptr)
        error = &ignored;
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA data = {sizeof(data)};
    if (!set.valid() || !SetupDiOpenDeviceInfoW(set.get(), instanceId, nullptr, 0, &data)) {
        *error = GetLastError();
        return false;
    }
    // The driver key is named by the device's "Driver" property, a class
    // GUID and a number; anything else is not a driver key of this device.
    std::vector<wchar_t> driver;
    // An empty name (Wine's left-over of a deletion) names no driver key.
    if (ReadProperty(set.get(), &data, SPDRP_DRIVER, REG_SZ, &driver) && driver[0] != L'\0') {
        const wchar_t* slash = wcschr(driver.data(), L'\\');
        bool wellFormed = driver[0] == L'{' && slash != nullptr && slash[-1] == L'}' &&
                          IsPlainName(slash + 1) && wcschr(slash + 1, L'\\') == nullptr;
        if (!wellFormed) {
            *error = ERROR_INVALID_DATA;
            return false;
        }
        std::wstring path = FormatWide(L"SYSTEM\\CurrentControlSet\\Control\\Class\\%s", driver.data());
        LONG rc = (ZOL_CHANGE_POINT("RegDeleteTreeW(driver key)", path.c_str()),
                   RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()));
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            *error = static_cast<DWORD>(rc);
            return false;
        }
        (ZOL_CHANGE_POINT("RegDeleteKeyW(driver key)", path.c_str()), RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()));
    }
    // No buffer deletes a property.
    for (DWORD property : {SPDRP_DRIVER, SPDRP_SERVICE}) {
        if (!(ZOL_CHANGE_POINT("SetupDiSetDeviceRegistryPropertyW(clear)", instanceId),
              SetupDiSetDeviceRegistryPropertyW(set.get(), &data, property, nullptr, 0)) &&
            GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_INVALID_DATA) {
            *error = GetLastError();
            return false;
        }
    }
    return DeletePropertiesLeftEmpty(set.get(), &data, error);
}

IDriverPackageUninstall& DriverPackageUninstall()
{
    static CPlatformPackageUninstall platform;
    if (g_pPackageUninstallOverride)
        return *g_pPackageUninstallOverride;
    return platform;
}

IDriverPackageUninstall* SetDriverPackageUninstallOverride(IDriverPackageUninstall* uninstall)
{
    IDriverPackageUninstall* previous = g_pPackageUninstallOverride;
    g_pPackageUninstallOverride = uninstall;
    return previous;
}

DWORD RemovePublishedInf(const wchar_t* infName)
{
    CStr path = InfFolderPath(infName);
    if (path.IsEmpty())
        return ERROR_INVALID_NAME;
    // The platform's call refuses an INF a device still uses. An INF
    // already gone may have left its precompiled copy (a run cut off
    // between the two), which goes below.
    if (FileExists(path) &&
        !(ZOL_CHANGE_POINT("SetupUninstallOEMInfW", infName), SetupUninstallOEMInfW(infName, 0, nullptr)) &&
        FileExists(path)) {
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_SHARING_VIOLATION;
    }
    if (FileExists(path)) {
        // Reported done and still there: the call did nothing. Nothing uses
        // the INF (checked here, as the platform did not), so it goes.
        if (!FindDevicesUsingInf(infName).empty())
            return ERROR_SHARING_VIOLATION;
        if (!(ZOL_CHANGE_POINT("SetupUninstallOEMInfW(force)", infName),
              SetupUninstallOEMInfW(infName, SUOI_FORCEDELETE, nullptr)) &&
            FileExists(path))
            return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_ACCESS_DENIED;
        if (FileExists(path))
            return ERROR_ACCESS_DENIED;
    }
    // The precompiled copy beside it is of no use without it.
    CStr name(infName);
    int dot = -1;
    for (int i = static_cast<int>(name.GetLength()) - 1; i >= 0 && dot < 0; --i) {
        if (name.GetString()[i] == L'.')
            dot = i;
    }
    if (dot > 0) {
        CStr pnf = name.Mid(0, static_cast<size_t>(dot));
        pnf += L".pnf";
        CStr pnfPath = InfFolderPath(pnf.GetString());
        if (!pnfPath.IsEmpty() && FileExists(pnfPath))
            (ZOL_CHANGE_POINT("DeleteFileW", pnfPath.GetString()), DeleteFileW(pnfPath.GetString()));
    }
    return ERROR_SUCCESS;
}
