#include "basecomp.h"

#include "package/xmlreader.h"
#include "support/asciicase.h"
#include "support/plainname.h"
#include "support/wformat.h"

#include <wchar.h>

CBaseComponent::CBaseComponent()
    : m_bDependencyChecked(0), m_bModelSupported(1), m_nInfType(INF_TYPE_NONE), m_bSilentCapable(1),
      m_bRebootRequired(0), m_bIs64BitOs(0), m_nRequiredDiskSpaceKb(0), m_pPackageReader(nullptr), m_bOwnsLog(0),
      m_pLog(nullptr), m_bAdoptedHostLog(0), m_bDeviceResultsRecorded(0)
{
    m_szPackageFileName[0] = L'\0';
    m_szShellExecuteFile[0] = L'\0';
    m_szShellExecuteDir[0] = L'\0';
    m_pLog = new CCmpLog();
}

CBaseComponent::~CBaseComponent()
{
    CBaseComponent::Cleanup();
}

void CBaseComponent::Cleanup()
{
    if (m_bOwnsLog && m_pLog && !m_bAdoptedHostLog)
        delete m_pLog;
    if (m_pPackageReader) {
        delete m_pPackageReader;
        // A second Cleanup (it is a public operation) must not free it again.
        m_pPackageReader = nullptr;
    }
}

int CBaseComponent::FindSubstring(const wchar_t* text, const wchar_t* pattern)
{
    if (text == nullptr || pattern == nullptr)
        return -1;
    size_t n = wcslen(text), m = wcslen(pattern);
    if (m == 0 || n < m)
        return -1;
    for (size_t i = 0; i + m <= n; ++i) {
        size_t j = 0;
        while (j < m && FoldAscii(text[i + j]) == FoldAscii(pattern[j]))
            ++j;
        if (j == m)
            return static_cast<int>(i);
    }
    return -1;
}

int CBaseComponent::Initialize()
{
    int result = 1;
    wchar_t path[MAX_PATH] = {};

    const wchar_t* commandLine = GetCommandLineW();
    if (FindSubstring(commandLine, L"/verbose_log") >= 0)
        m_pLog->SetVerbose(1);
    if (FindSubstring(commandLine, L"/consoleout") >= 0)
        CCmpLog::OpenConsole();
    m_pLog->Open();

    m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 84, L"Detecting if 64-bit operating system... \r\n");
    m_bIs64BitOs = Is64BitOperatingSystem();

    wchar_t full[MAX_PATH] = {};
    DWORD fullLength = GetCurrentDirectoryW(MAX_PATH, full);
    m_strPackageFolder = fullLength != 0 && fullLength < MAX_PATH ? full : L"";
    m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 87, L"Locating package definition file... ");
    if (FindPackageDefinitionFile(path, MAX_PATH)) {
        fullLength = GetFullPathNameW(path, MAX_PATH, full, nullptr);
        m_strPackageDefinitionPath = fullLength != 0 && fullLength < MAX_PATH ? full : L"";
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 93, L"    - Reading package definition file... ");
        if (ReadPackageDefinition(path) == 0) {
            m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
        } else {
            m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Failed!\r\n");
            result = 0;
        }
        WriteRefusedNames();
    } else {
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Failed!\r\n");
    }

    m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 110, L"Checking for install.xml... ");
    WIN32_FIND_DATAW found = {};
    HANDLE hFind = FindFirstFileW(L"install.xml", &found);
    if (hFind == INVALID_HANDLE_VALUE) {
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Not found.\r\n");
    } else {
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Found.\r\n");
        m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 117, L"    - Reading installer XML... ");
        if (ReadInstallerXml(found.cFileName) == 0) {
            m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
        } else {
            m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Failed!\r\n");
            result = 0;
        }
        FindClose(hFind);
    }

    if (m_vSupportedHardwareIds.empty())
        return result;

    m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 136, L"Building PnP device list... ");
    if (BuildDeviceList(0))
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
    else
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Failed!\r\n");
    return result;
}

void CBaseComponent::WriteRefusedNames()
{
    CStrList texts;
    for (const CStr& name : m_vRefusedNames)
        texts.push_back(CStr(UnsafeFileNameText(name.GetString()).c_str()));
    WriteErrorLines(texts);
}

int CBaseComponent::GetProperty(int type, void* out, int capacity, void* extra)
{
    const wchar_t* language = static_cast<const wchar_t*>(extra);
    switch (type) {
    case ZOL_PROP_NAME: return GetPackageName(static_cast<wchar_t*>(out), capacity, language);
    case ZOL_PROP_DESCRIPTION: return GetPackageDescription(static_cast<wchar_t*>(out), capacity, language);
    case ZOL_PROP_INSTALLED_VERSION: return GetInstalledVersion(static_cast<wchar_t*>(out), capacity);
    case ZOL_PROP_PACKAGE_VERSION: return GetPackageVersion(static_cast<wchar_t*>(out), capacity);
    case ZOL_PROP_PREREQUISITES: return CheckPrerequisites(static_cast<PREREQSTATUS*>(out), capacity, language);
    case ZOL_PROP_SILENT_CAPABLE:
        if (out)
            *static_cast<int*>(out) = GetPropertyFlag6();
        return 1;
    case ZOL_PROP_SILENT_CAPABLE2:
        if (out)
            *static_cast<int*>(out) = GetPropertyFlag7();
        return 1;
    case ZOL_PROP_FLAG8:
        if (out)
            *static_cast<int*>(out) = GetPropertyFlag8();
        return 1;
    case ZOL_PROP_HOST_LOG:
        AttachHostLog(static_cast<CCmpLog*>(out));
        return 1;
    case ZOL_PROP_DEVICE_RESULTS:
        // extra is only ever read, and not by this property: a host may pass
        // its language code to every property.
        return GetDeviceResults(static_cast<ZOL_DEVICE_RESULTS*>(out), capacity);
    case ZOL_PROP_UNINSTALL_PLAN:
        return GetUninstallPlan(static_cast<ZOL_DEVICE_RESULTS*>(out), capacity);
    default:
        return 0;
    }
}

int CBaseComponent::GetPropertyFlag6() { return m_bSilentCapable; }
int CBaseComponent::GetPropertyFlag7() { return m_bSilentCapable; }
int CBaseComponent::GetPropertyFlag8() { return 1; }

void CBaseComponent::AttachHostLog(CCmpLog* hostLog)
{
    if (hostLog == nullptr || hostLog == m_pLog || m_pLog == nullptr)
        return;
    if (!m_pLog->IsVerbose())
        return;
    m_pLog->MoveVerboseLog(hostLog->GetVerboseLogName(), hostLog->GetVerboseLogDir());
    m_pLog->Close();
    // The log this component created is replaced; a log adopted earlier
    // belongs to the host and is never destroyed here.
    if (!m_bAdoptedHostLog)
        delete m_pLog;
    m_pLog = hostLog;
    m_bOwnsLog = 0;
    m_bAdoptedHostLog = 1;
    wchar_t name[256];
    FormatWideBuffer(name, 256, L"%s.exe.log", m_szPackageFileName);
    hostLog->MoveVerboseLog(name, hostLog->GetVerboseLogDir());
}

void CBaseComponent::SetSilentCapable(int value) { m_bSilentCapable = value; }
void CBaseComponent::SetRequiredDiskSpace(int kilobytes) { m_nRequiredDiskSpaceKb = static_cast<DWORD>(kilobytes); }
void CBaseComponent::SetRebootRequired(int value) { m_bRebootRequired = value; }
void CBaseComponent::SetInstalledFilePath(const wchar_t* path) { m_strInstalledFilePath = path; }

void CBaseComponent::SetInfFile(const wchar_t* name, int type)
{
    m_strInfFile = name;
    m_nInfType = type;
}

void CBaseComponent::AddSupportedHardwareId(const wchar_t* id) { m_vSupportedHardwareIds.push_back(CStr(id)); }
void CBaseComponent::AddSupportedOperatingSystem(const SUPPORTEDOS& os) { m_vSupportedOs.push_back(os); }
const wchar_t* CBaseComponent::GetInfFileName() { return m_strInfFile.GetString(); }

int CBaseComponent::CheckAdditionalRequirements(wchar_t* message, int capacity, const wchar_t* language)
{
    return 1;
}
