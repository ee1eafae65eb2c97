// Prerequisite check (property 5) and the framework's own probes: disk space,
// hardware presence, installed state and pending removal.
#include "basecomp.h"
#include "inf/inf.h"
#include "inf/servicecontrol.h"
#include "messages.h"
#include "support/wformat.h"

#include <vector>

namespace {

// Message buffers handed to the requirement and dependency checks.
const int kCheckMessageChars = 4096;
const int kMessageChars = ZOL_MESSAGE_CHARS;

bool HasText(const wchar_t* text)
{
    return text != nullptr && text[0] != L'\0';
}

// 1 when path names an existing file that is not a directory.
int InstalledFileExists(const CStr& path)
{
    if (path.IsEmpty())
        return 0;
    DWORD attributes = GetFileAttributesW(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// Copies a message into the status record; a text longer than the record
// holds is cut to fit, terminator included.
void SetMessage(PREREQSTATUS* status, const wchar_t* text)
{
    CopyTruncate(status->szMessage, kMessageChars, text ? text : L"");
}

} // namespace

int CBaseComponent::CheckPrerequisites(PREREQSTATUS* status, int capacity, const wchar_t* language)
{
    if (status == nullptr || capacity < ZOL_PREREQSTATUS_BYTES)
        return 0;

    status->szMessage[0] = L'\0';
    std::vector<wchar_t> requirements(kCheckMessageChars, L'\0');
    std::vector<wchar_t> dependencies(kCheckMessageChars, L'\0');
    const int column = GetLanguageColumn(language);

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 844, L"    - Is operating system supported... ");
    if (!IsOperatingSystemSupported()) {
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"No\r\n\r\n");
        status->nStatus = STATUS_CANNOT_INSTALL;
        SetMessage(status, GetMessageText(MSG_OS_NOT_SUPPORTED, column));
        return 1;
    }
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Yes\r\n");

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 856, L"    - Is necessary disk space available... ");
    if (!IsDiskSpaceAvailable(nullptr)) {
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"No\r\n\r\n");
        status->nStatus = STATUS_CANNOT_INSTALL;
        SetMessage(status, GetMessageText(MSG_NO_DISK_SPACE, column));
        return 1;
    }
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Yes\r\n");

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 869, L"    - Is hardware present... ");
    const int hardware = IsHardwarePresent();
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, hardware ? L"Yes\r\n" : L"No\r\n");

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 875, L"    - Is component already installed... ");
    const int installed = IsComponentInstalled();
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, installed ? L"Yes\r\n" : L"No\r\n");

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 881, L"    - Is component marked for removal... ");
    const int marked = IsMarkedForRemoval();
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, marked ? L"Yes\r\n" : L"No\r\n");

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 887, L"    - Installed component version status... ");
    const int version = GetInstalledVersionStatus();
    if (version == INSTALLED_VERSION_OLDER)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Older\r\n");
    else if (version == INSTALLED_VERSION_SAME)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Same\r\n");
    else if (version == INSTALLED_VERSION_NEWER)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Newer\r\n");

    const int additional = CheckAdditionalRequirements(requirements.data(), kCheckMessageChars, language);
    requirements[kCheckMessageChars - 1] = L'\0';

    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 904, L"    - Checking dependency list... ");
    const int dependenciesMet = CheckDependencies(dependencies.data(), kCheckMessageChars, language);
    dependencies[kCheckMessageChars - 1] = L'\0';
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, dependenciesMet ? L"Done.\r\n\r\n" : L"Failed!\r\n\r\n");

    status->nStatus = STATUS_UNDETERMINED;
    if (hardware) {
        if (!additional && requirements[0] != L'\0')
            SetMessage(status, requirements.data());
        if (additional && !marked) {
            if (installed) {
                if (version == INSTALLED_VERSION_OLDER)
                    status->nStatus = STATUS_INSTALLED_OLDER;
                else if (version == INSTALLED_VERSION_SAME)
                    status->nStatus = STATUS_INSTALLED_SAME;
                else if (version == INSTALLED_VERSION_NEWER)
                    status->nStatus = STATUS_INSTALLED_NEWER;
            } else {
                status->nStatus = STATUS_NOT_INSTALLED;
            }
        } else {
            status->nStatus = STATUS_CANNOT_INSTALL;
            if (marked)
                SetMessage(status, GetMessageText(MSG_MARKED_FOR_REMOVAL, column));
        }
    } else {
        status->nStatus = installed ? STATUS_INSTALLED_NO_HARDWARE : STATUS_NOT_APPLICABLE;
    }

    if (!dependenciesMet) {
        status->nStatus = STATUS_NOT_APPLICABLE;
        if (dependencies[0] != L'\0')
            SetMessage(status, dependencies.data());
    }
    return 1;
}

int CBaseComponent::IsDiskSpaceAvailable(const wchar_t* drive)
{
    if (m_nRequiredDiskSpaceKb == 0)
        return 1;

    CStr root;
    if (drive != nullptr) {
        root = drive;
        root += L"\\";
    } else {
        wchar_t system[MAX_PATH] = {};
        UINT length = GetSystemDirectoryW(system, MAX_PATH);
        if (length >= 3 && length < MAX_PATH)
            system[3] = L'\0';
        else
            system[0] = L'\0';
        root = system;
    }

    ULARGE_INTEGER available = {};
    if (root.IsEmpty() || !GetDiskFreeSpaceExW(root.GetString(), &available, nullptr, nullptr))
        available.QuadPart = 0;
    // More than 4 TB free is more than any requirement can ask for; the
    // kilobyte count is held at the largest 32-bit value rather than cut.
    unsigned long long freeKb = available.QuadPart / 1024;
    DWORD freeKb32 = freeKb > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(freeKb);
    return m_nRequiredDiskSpaceKb <= freeKb32 ? 1 : 0;
}

int CBaseComponent::IsHardwarePresent()
{
    if (m_vSupportedHardwareIds.empty())
        return 1;
    for (const CStr& id : m_vSupportedHardwareIds) {
        if (IsDevicePresent(id.GetString()))
            return 1;
    }
    return 0;
}

int CBaseComponent::IsComponentInstalled()
{
    int result = 0;
    CInf inf(m_strInfFile.GetString());
    if (inf.IsOpen()) {
        // The package may name the service; otherwise the INF's first
        // AddService line does.
        CStr serviceName = m_strServiceName;
        if (serviceName.IsEmpty()) {
            wchar_t name[MAX_PATH] = {};
            if (inf.GetServiceName(nullptr, name, MAX_PATH)) {
                name[MAX_PATH - 1] = L'\0';
                serviceName = name;
            }
        }

        if (!serviceName.IsEmpty()) {
            CServiceControl service(serviceName.GetString());
            result = service.ServiceExists() == 1 && service.IsServiceDisabled() == 0 &&
                             service.IsRemovalPending() == 0
                         ? 1
                         : 0;
            // A PnP driver counts as installed only when its service drives
            // every supported device that is present.
            OSVERSIONINFOW version = {};
            version.dwOSVersionInfoSize = sizeof(version);
            if (result == 1 && GetVersionExW(&version) && version.dwMajorVersion > 4 && HasText(inf.GetClass()) &&
                HasText(inf.GetClassGuid()) && m_nInfType == INF_TYPE_PNP)
                result = ServiceControlsAllDevices(serviceName.GetString());
        } else {
            result = InstalledFileExists(m_strInstalledFilePath);
        }
    } else {
        result = InstalledFileExists(m_strInstalledFilePath);
    }
    return result;
}

int CBaseComponent::IsMarkedForRemoval()
{
    int result = 0;
    CInf inf(m_strInfFile.GetString());
    if (inf.IsOpen()) {
        // Only the INF's service is asked here, never the package's own name.
        wchar_t name[MAX_PATH] = {};
        if (inf.GetServiceName(nullptr, name, MAX_PATH) && name[0] != L'\0') {
            name[MAX_PATH - 1] = L'\0';
            CServiceControl service(name);
            result = service.IsRemovalPending();
        }
    }
    return result;
}
