// CInf install operations: the whole INF or one named install section, a
// section's own file directives followed by its registry, INI, log-config and
// profile items, the service directives, and the ".SoftwareSettings" entries
// under the service's device key. Every step runs even after an earlier one
// failed; the results are combined.
#include "inf/inf.h"

#include <vector>

#include "inf/devicenodes.h"
#include "inf/infplatform.h"
#include "inf/infutil.h"
#include "inf/servicecontrol.h"
#include "support/changepoint.h"
#include "support/errortext.h"
#include "support/handles.h"
#include "support/wformat.h"

namespace {

// Platform section install without file operations: log configurations,
// INI files, registry, INI-to-registry and profile items.
const UINT kSectionInstallFlags = SPINST_LOGCONFIG | SPINST_INIFILES | SPINST_REGISTRY | SPINST_INI2REG |
                                  SPINST_PROFILEITEMS;
const UINT kRegistryOnly = SPINST_REGISTRY;

// Room for the service name in the whole-INF and named-section installs, and
// in the software-settings install.
const int kServiceNameChars = 254;
const int kLongServiceNameChars = 2048;

// The key under which ".SoftwareSettings" entries are written: read, set
// value and create sub key.
const REGSAM kDeviceKeyAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// Longest service name an "AddService" line is read with.
const size_t kAddServiceNameChars = 255;

// The service named by the first "AddService" section, or empty.
CStr FirstServiceName(CInf* inf, int capacity)
{
    std::vector<wchar_t> buffer(static_cast<size_t>(capacity) + 1, L'\0');
    if (!inf->GetServiceName(nullptr, buffer.data(), capacity))
        return CStr();
    buffer.back() = L'\0';
    return CStr(buffer.data());
}

// Every service an "AddService" line of the section names is known to the
// service manager (and there is at least one).
bool AllServicesOfSectionExist(HINF hInf, const wchar_t* section)
{
    INFCONTEXT context;
    if (!SetupFindFirstLineW(hInf, section, L"AddService", &context))
        return false;
    do {
        CStr name;
        if (!infutil::ReadStringField(&context, 1, kAddServiceNameChars, &name) || name.IsEmpty())
            return false;
        CServiceControl service(name.GetString());
        if (!service.ServiceExists())
            return false;
    } while (SetupFindNextMatchLineW(&context, L"AddService", &context));
    return true;
}

} // namespace

int CInf::InstallAll(int* pRebootNeeded)
{
    if (!m_hInf.valid())
        return 0;
    if (pRebootNeeded)
        *pRebootNeeded = 0;

    int result = 1;
    for (const CStr& section : m_vCopyFilesSections) {
        if (!InstallSection(section.GetString(), HKEY_LOCAL_MACHINE))
            result = 0;
    }

    CStr service = FirstServiceName(this, kServiceNameChars);
    int nodePresent = FindWholeRootDevice(service.GetString());
    if (nodePresent < 0) {
        result = 0;
    } else if (!nodePresent && GetClass() != nullptr && GetClassGuid() != nullptr) {
        if (!CreateRootDevice(pRebootNeeded))
            result = 0;
    }

    for (const CStr& section : m_vAddServiceSections) {
        if (!InstallServices(section.GetString()))
            result = 0;
    }
    for (const CStr& section : m_vSoftwareSettingsSections) {
        if (!InstallSoftwareSettings(section.GetString()))
            result = 0;
    }

    CreateStartMenuItems();

    if (result && m_bRebootNeeded && pRebootNeeded)
        *pRebootNeeded = 1;
    return result;
}

int CInf::InstallFromSection(const wchar_t* section, int* pRebootNeeded)
{
    if (!m_hInf.valid() || section == nullptr)
        return 0;
    if (pRebootNeeded)
        *pRebootNeeded = 0;

    CStr services(section);
    services += L".Services";
    CStr softwareSettings(section);
    softwareSettings += L".SoftwareSettings";

    int result = InstallSection(section, HKEY_LOCAL_MACHINE);

    // The node is probed under the name the root device gets, as in the
    // whole-INF install, so a repeated install never creates a second node.
    CStr service = FirstServiceName(this, kServiceNameChars);
    int nodePresent = FindWholeRootDevice(service.GetString());
    if (nodePresent < 0) {
        result = 0;
    } else if (!nodePresent && GetClass() != nullptr && GetClassGuid() != nullptr) {
        if (!CreateRootDevice(pRebootNeeded))
            result = 0;
    }

    CStrList names = ReadSectionNames();
    for (const CStr& name : names) {
        if (name.CompareNoCase(services.GetString()) != 0)
            continue;
        INFCONTEXT context;
        if (SetupFindFirstLineW(m_hInf.get(), name.GetString(), L"AddService", &context) ||
            SetupFindFirstLineW(m_hInf.get(), name.GetString(), L"DelService", &context)) {
            if (!InstallServices(services.GetString()))
                result = 0;
            break;
        }
    }

    for (const CStr& name : m_vSoftwareSettingsSections) {
        if (name.FindNoCase(softwareSettings.GetString()) >= 0) {
            if (!InstallSoftwareSettings(softwareSettings.GetString()))
                result = 0;
            break;
        }
    }

    CreateStartMenuItems();

    if (result && m_bRebootNeeded && pRebootNeeded)
        *pRebootNeeded = 1;
    return result;
}

int CInf::InstallSection(const wchar_t* section, HKEY hRootKey)
{
    if (section == nullptr || hRootKey == nullptr)
        return 0;

    // The file directives are carried out here, never by the platform.
    int ok = ProcessCopyFiles(section);
    if (ok)
        ok = ProcessDelFiles(section);
    if (ok)
        ok = ProcessRenFiles(section);
    if (!ok)
        return 0;

    if (!NoteRegistry(section, hRootKey == HKEY_LOCAL_MACHINE ? L"HKLM" : nullptr, nullptr))
        return 0;
    const wchar_t* sourceRoot = m_strInfDir.IsEmpty() ? nullptr : m_strInfDir.GetString();
    if ((ZOL_CHANGE_POINT("SetupInstallFromInfSectionW", section),
         SetupInstallFromInfSectionW(nullptr, m_hInf.get(), section, kSectionInstallFlags, hRootKey, sourceRoot, 0,
                                     nullptr, nullptr, nullptr, nullptr)))
        return 1;
    DWORD error = GetLastError();
    AddFailure(FormatWide(L"Section install failed: %s, error %s", section, DescribeError(error).GetString()));
    return 0;
}

int CInf::InstallServices(const wchar_t* section)
{
    if (section == nullptr || !m_hInf.valid() || !NoteServices(section))
        return 0;
    if ((ZOL_CHANGE_POINT("SetupInstallServicesFromInfSectionW", section),
         InfPlatform().pInstallServicesFromInfSection(m_hInf.get(), section, 0)))
        return 1;
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS)
        return 1;
    // The name is in use as another service's name or display name. That is
    // only the "already installed" case when the services are there;
    // otherwise the service was not created.
    if (error == ERROR_DUPLICATE_SERVICE_NAME && AllServicesOfSectionExist(m_hInf.get(), section))
        return 1;
    AddFailure(FormatWide(L"Service install failed: %s, error %s", section, DescribeError(error).GetString()));
    return 0;
}

int CInf::InstallSoftwareSettings(const wchar_t* section)
{
    if (section == nullptr || !m_hInf.valid())
        return 0;
    CStr service = FirstServiceName(this, kLongServiceNameChars);
    // A service name never holds a backslash; one that did would put the
    // entries under another key.
    if (service.IsEmpty() || service.Find(L"\\") >= 0) {
        AddFailure(FormatWide(L"Software settings failed: %s, the INF names no usable service", section));
        return 0;
    }

    CStr path;
    path.Format(L"System\\CurrentControlSet\\Services\\%s\\Device%d", service.GetString(), 0);
    if (!NoteRegistry(section, L"HKLM", path.GetString()))
        return 0;
    CUniqueRegKey key;
    LONG rc = (ZOL_CHANGE_POINT("RegCreateKeyExW", path.GetString()),
               RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.GetString(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               kDeviceKeyAccess, nullptr, key.put(), nullptr));
    if (rc == ERROR_SUCCESS && (ZOL_CHANGE_POINT("SetupInstallFromInfSectionW", section),
                                SetupInstallFromInfSectionW(nullptr, m_hInf.get(), section, kRegistryOnly, key.get(),
                                                            nullptr, 0, nullptr, nullptr, nullptr, nullptr)))
        return 1;
    DWORD error = rc != ERROR_SUCCESS ? static_cast<DWORD>(rc) : GetLastError();
    AddFailure(FormatWide(L"Software settings failed: %s, error %s", section, DescribeError(error).GetString()));
    return 0;
}
