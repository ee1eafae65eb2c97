// CHostSession: one run of the host against one component: load it, hand it
// the host's log, ask the questions, install (or uninstall), and report.
#pragma once

#include "componentlibrary.h"
#include "hostoptions.h"
#include "hostoutput.h"
#include "hostreport.h"
#include "support/handles.h"

#include <string>
#include <vector>

// Process exit codes of the host.
const int HOST_EXIT_SUCCESS = 0;
const int HOST_EXIT_RESTART = 3010;
const int HOST_EXIT_FAILURE = 1603;
const int HOST_EXIT_BAD_ARGUMENTS = 87;
const int HOST_EXIT_INSTALL_IN_PROGRESS = ZOL_EXIT_INSTALL_IN_PROGRESS;
const int HOST_EXIT_NOT_INSTALLED = ZOL_EXIT_NOT_INSTALLED;

// The host's own verbose log file (in the log directory), and the text after
// "Stub Version:" in its verbose header.
#define HOST_VERBOSE_LOG_NAME L"zolhost.log"
#define HOST_STUB_VERSION L"1.0.0.0"

class CCmpLog;
class CInstallLock;

class CHostSession
{
public:
    CHostSession(const CHostOptions& options, CHostOutput& output);

    // Returns the process exit code.
    int Run();

    static int ExitCodeForInstallResult(int result);
    // Uninstall's result as an exit code: a failure is 1605 when the what-if
    // answered (planResult 1) that the package is not installed.
    static int ExitCodeForUninstallResult(int result, int planResult, int packageState);
    // Whether the file at a full path lies directly in folder: letter case,
    // short names and trailing backslashes do not count.
    static bool IsInFolder(const std::wstring& fullPath, const std::wstring& folder);
    // The sentence the report gives when the component is not in the
    // current folder.
    static std::wstring OutsidePackageWarning(const std::wstring& componentFolder, const std::wstring& currentFolder);
    // The COM apartment of the calling thread, in words.
    static std::wstring ApartmentName();
    // What the report says when the install lock was not taken: Install not
    // called, the message, the reason and exit code 1618.
    static void NoteInstallLockRefusal(const CInstallLock& lock, CHostReport& report);

private:
    void AskProperties(CComponentLibrary& library, CHostReport& report);
    // Property 10 or 11 into devices (and property 11's package state into
    // *packageState); returns the property's result. No devices when the
    // component does not answer it.
    static int AskDevices(CComponentLibrary& library, int type, std::vector<CHostReport::Device>& devices,
                          int* packageState);
    // Install, or Uninstall with its what-if, under the install lock unless
    // --check; both fill the report and return the log footer's code.
    int RunInstall(CComponentLibrary& library, CCmpLog& log, CHostReport& report);
    int RunUninstall(CComponentLibrary& library, CCmpLog& log, CHostReport& report);
    // Takes the install lock, waiting as --wait says. When it cannot (another
    // installation holds it for the whole wait, or the report's reason),
    // message says so, the log gets the ERROR line and the result is false.
    bool TakeInstallLock(CInstallLock& lock, CCmpLog& log, CHostReport& report, std::wstring& message) const;
    // The language code, terminated, for the component's calls.
    std::vector<wchar_t> LanguageCode() const;
    void LogLoadFailure(const std::wstring& error);
    // Makes the --package folder current. On failure writes why to stderr.
    bool EnterPackageFolder();
    // Judges the component's folder and the package folder (the current
    // one) and keeps each trusted one pinned in pins until the run ends. A
    // folder that is not trusted ends the run (false, why on stderr) unless
    // --allow-untrusted-folder is given; then the report warns.
    bool JudgeFolders(const std::wstring& componentPath, CUniqueFile (&pins)[2], CHostReport& report);
    // Opens the log and writes its header; Open's result.
    static int PrepareLog(CCmpLog& log);
    // Whether the host's log was opened, and why not, into the report; the
    // console says so too.
    void NoteLogState(const CCmpLog& log, int opened, CHostReport& report);

    const CHostOptions& m_options;
    CHostOutput& m_output;
};
