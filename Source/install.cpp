// Installation dispatch, the language rule and the post-install command.
#include "support/asciicase.h"
#include "basecomp.h"
#include "messages.h"
#include "support/installlock.h"
#include "support/plainname.h"

#include <shellapi.h>
#include <wchar.h>

int CBaseComponent::GetLanguageColumn(const wchar_t* language)
{
    if (language == nullptr)
        return LANG_COL_ENGLISH;
    static const wchar_t* const codes[] = {ZOL_LANG_FRENCH, ZOL_LANG_ITALIAN, ZOL_LANG_GERMAN, ZOL_LANG_SPANISH,
                                           ZOL_LANG_JAPANESE};
    for (int i = 0; i < 5; ++i) {
        if (EqualsAsciiNoCase(language, codes[i]))
            return i + 1;
    }
    return LANG_COL_ENGLISH;
}

const wchar_t* CBaseComponent::SelectInstallMessage(int message, const wchar_t* language)
{
    int column = GetLanguageColumn(language);
    if (column == LANG_COL_JAPANESE) {
        const wchar_t* text = GetMessageText(message, LANG_COL_JAPANESE);
        if (text && *text)
            return text;
    }
    return GetMessageText(message, LANG_COL_ENGLISH);
}

void CBaseComponent::WriteErrorLines(const CStrList& texts)
{
    // The texts carry names and values from the package's files; a control
    // character in one must not start a line of its own in the log.
    for (const CStr& text : texts)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_ERROR, nullptr, 0, L"%s\r\n", EscapeControlChars(text.GetString()).GetString());
}

bool CBaseComponent::AcquireInstallLock(CInstallLock& lock)
{
    if (lock.Acquire(0))
        return true;
    // A lock no installation holds is not waited for: it says why at once.
    if (lock.BusyReason() != LOCK_BUSY_INSTALLATION) {
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_ERROR, nullptr, 0, L"%s\r\n", InstallInProgressText(lock).GetString());
        return false;
    }
    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 262, L"Waiting for another installation to finish... ");
    DWORD waitMs = GetInstallWaitMs();
    if (lock.Acquire(waitMs)) {
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
        return true;
    }
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Gave up after %lu s.\r\n",
                      static_cast<unsigned long>(waitMs / 1000));
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_ERROR, nullptr, 0, L"%s\r\n", InstallInProgressText(lock).GetString());
    return false;
}

int CBaseComponent::Install(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    // One installation at a time on this machine, for the whole run. One
    // that cannot start changes nothing: no install path, no post-install
    // command.
    CInstallLock lock;
    if (!AcquireInstallLock(lock)) {
        CopyMessageText(message, SelectInstallMessage(MSG_INSTALL_ERROR, language));
        if (m_nInfType == INF_TYPE_PNP) {
            m_vDeviceResults = FindSupportedDevices(m_vSupportedHardwareIds);
            MarkNotAttempted(m_vDeviceResults, ZOL_REASON_INSTALL_IN_PROGRESS);
            m_bDeviceResultsRecorded = 1;
        }
        return ZOL_INSTALL_FAILED;
    }

    int result = ZOL_INSTALL_FAILED;
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Initiating installation... ");
    switch (m_nInfType) {
    case INF_TYPE_LEGACY:
        m_pLog->WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"\r\n");
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Type=LEGACY\r\n");
        result = InstallLegacy(a, b, message, d, language);
        break;
    case INF_TYPE_PNP:
        m_pLog->WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"\r\n");
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Type=PNP\r\n");
        result = InstallPnP(a, b, message, d, language);
        break;
    case INF_TYPE_VIRTUAL:
        m_pLog->WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"\r\n");
        // The virtual path reports the same type text as the legacy one.
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Type=LEGACY\r\n");
        result = InstallVirtual(a, b, message, d, language);
        break;
    default:
        CopyMessageText(message, SelectInstallMessage(MSG_UNKNOWN_INF_TYPE, language));
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"\r\n");
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_ERROR, nullptr, 0, L"%s\r\n",
                          GetMessageText(MSG_UNKNOWN_INF_TYPE, LANG_COL_ENGLISH));
        result = ZOL_INSTALL_FAILED;
        break;
    }

    // Where administrators and configuration managers find the package and
    // remove it again.
    if (result == ZOL_INSTALL_SUCCESS || result == ZOL_INSTALL_RESTART)
        RegisterUninstallEntry();

    if (m_szShellExecuteFile[0] == L'\0')
        return result;

    m_pLog->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 297, L"Executing ShellExecute command... ");
    // An empty working directory means the current one.
    const wchar_t* directory = m_szShellExecuteDir[0] ? m_szShellExecuteDir : nullptr;
    HINSTANCE rc = ShellExecuteW(nullptr, L"open", m_szShellExecuteFile, nullptr, directory, SW_HIDE);
    if (static_cast<int>(reinterpret_cast<INT_PTR>(rc)) <= 32) {
        CopyMessageText(message, SelectInstallMessage(MSG_SHELLEXECUTE_FAILED, language));
        m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Failed!\r\n");
        return ZOL_INSTALL_FAILED;
    }
    m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
    return result;
}
