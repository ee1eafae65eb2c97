#include "hostsession.h"

#include "zolcomp/zolcomp.h"
#include "log/cmplog.h"
#include "support/installlock.h"
#include "support/trustedfolder.h"
#include "hostsupport.h"

#include <objbase.h>
#include <wchar.h>

#include <vector>

namespace {

// COM set up single-threaded on the host's thread for the length of a run
// (--sta), as a setup program with windows has it; nothing without --sta.
class CHostApartment
{
public:
    explicit CHostApartment(bool singleThreaded)
        : m_hr(singleThreaded ? HostCoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) : S_FALSE),
          m_bOwned(singleThreaded && SUCCEEDED(m_hr))
    {
    }
    ~CHostApartment()
    {
        if (m_bOwned)
            HostCoUninitialize();
    }
    HRESULT Result() const { return m_hr; }
    CHostApartment(const CHostApartment&) = delete;
    CHostApartment& operator=(const CHostApartment&) = delete;

private:
    HRESULT m_hr;
    bool m_bOwned;
};

std::wstring CurrentFolder()
{
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed + 1);
    DWORD len = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::wstring(buffer.data(), len < buffer.size() ? len : 0);
}

// The folder part of a full path ("C:\pkg\zolcomp.dll" gives "C:\pkg").
std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// A folder in one spelling: long names where the folder exists, no trailing
// separators.
std::wstring NormalFolder(const std::wstring& folder)
{
    std::wstring out = folder;
    DWORD needed = GetLongPathNameW(folder.c_str(), nullptr, 0);
    if (needed != 0) {
        std::vector<wchar_t> buffer(needed + 1);
        DWORD len = GetLongPathNameW(folder.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (len != 0 && len < buffer.size())
            out.assign(buffer.data(), len);
    }
    while (!out.empty() && (out.back() == L'\\' || out.back() == L'/'))
        out.pop_back();
    return out;
}

// The report's word for why the install lock was not taken.
const wchar_t* InProgressReason(InstallLockBusy busy)
{
    switch (busy) {
    case LOCK_BUSY_NOT_ADMINISTRATOR: return L"not_administrator";
    case LOCK_BUSY_UNAVAILABLE: return L"lock_unavailable";
    default: return L"installation";
    }
}

const int kTextCapacity = ZOL_TEXT_CHARS;       // characters, for properties 1 to 4
const int kMessageCapacity = ZOL_MESSAGE_CHARS; // characters, for Install's message
// The longest --pause waits for Enter.
const DWORD kPauseMs = 10 * 60 * 1000;

} // namespace

CHostSession::CHostSession(const CHostOptions& options, CHostOutput& output) : m_options(options), m_output(output) {}

int CHostSession::ExitCodeForInstallResult(int result)
{
    switch (result) {
    case ZOL_INSTALL_SUCCESS: return HOST_EXIT_SUCCESS;
    case ZOL_INSTALL_RESTART: return HOST_EXIT_RESTART;
    default: return HOST_EXIT_FAILURE;
    }
}

int CHostSession::ExitCodeForUninstallResult(int result, int planResult, int packageState)
{
    if (result == ZOL_INSTALL_FAILED && planResult && packageState == ZOL_PACKAGE_NOT_INSTALLED)
        return HOST_EXIT_NOT_INSTALLED;
    return ExitCodeForInstallResult(result);
}

bool CHostSession::IsInFolder(const std::wstring& fullPath, const std::wstring& folder)
{
    std::wstring a = NormalFolder(FolderOf(fullPath));
    std::wstring b = NormalFolder(folder);
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring CHostSession::OutsidePackageWarning(const std::wstring& componentFolder,
                                                 const std::wstring& currentFolder)
{
    return HostFormat(L"The component is not in the current folder %s: it reads the package's INF file from its "
                      L"own folder %s but copies the package files from the current folder, so the installed "
                      L"package may be incomplete.",
                      currentFolder.c_str(), componentFolder.c_str());
}

void CHostSession::NoteInstallLockRefusal(const CInstallLock& lock, CHostReport& report)
{
    report.installInProgress = true;
    report.inProgressReason = InProgressReason(lock.BusyReason());
    report.installMessage = InstallInProgressText(lock).GetString();
    report.exitCode = HOST_EXIT_INSTALL_IN_PROGRESS;
}

std::wstring CHostSession::ApartmentName()
{
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    HRESULT hr = HostCoGetApartmentType(&type, &qualifier);
    if (hr == CO_E_NOTINITIALIZED)
        return L"not initialised";
    if (FAILED(hr))
        return HostFormat(L"unknown (0x%08lx)", static_cast<unsigned long>(hr));
    switch (type) {
    case APTTYPE_STA:
    case APTTYPE_MAINSTA: return L"single-threaded";
    case APTTYPE_MTA:
        return qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA ? L"multithreaded (implicit)" : L"multithreaded";
    case APTTYPE_NA: return L"neutral";
    default: return HostFormat(L"unknown (%d)", static_cast<int>(type));
    }
}

bool CHostSession::EnterPackageFolder()
{
    const std::wstring& folder = m_options.PackageDir();
    if (folder.empty())
        return true;
    if (SetCurrentDirectoryW(folder.c_str()))
        return true;
    DWORD error = GetLastError();
    m_output.WriteError(HostFormat(L"zolhost: cannot use the package folder %s: error %lu (%s)\r\n", folder.c_str(),
                                   static_cast<unsigned long>(error),
                                   CComponentLibrary::SystemMessage(error).c_str()));
    return false;
}

int CHostSession::PrepareLog(CCmpLog& log)
{
    // The same switch rule as the component's: anywhere on the command line,
    // in any letter case.
    if (ContainsIgnoringCase(GetCommandLineW(), L"/verbose_log"))
        log.SetVerbose(1);
    log.SetStubVersion(HOST_STUB_VERSION);
    int opened = log.Open();
    log.WriteHeader();
    return opened;
}

void CHostSession::NoteLogState(const CCmpLog& log, int opened, CHostReport& report)
{
    // The component's log lies in the same folder: when the host cannot
    // write there, the run goes unlogged, and the caller is told.
    report.logKnown = true;
    report.logWritten = opened == 0 && log.GetRecordCount() > 0;
    if (report.logWritten)
        return;
    report.logReason = log.GetRecordCount() == 0 ? L"the log folder's name is too long" : CCmpLog::GetOpenFailure();
    m_output.WriteError(L"zolhost: the log cannot be written: " + report.logReason + L"\r\n");
}

bool CHostSession::JudgeFolders(const std::wstring& componentPath, CUniqueFile (&pins)[2], CHostReport& report)
{
    // A folder others may change lets them swap the component, install.xml
    // or the INF between the reads of an elevated run.
    const std::wstring folders[2] = {FolderOf(componentPath), CurrentFolder()};
    const wchar_t* const names[2] = {L"the component's folder", L"the package folder"};
    for (int i = 0; i < 2; ++i) {
        if (folders[i].empty() || (i == 1 && IsInFolder(componentPath, folders[i])))
            continue;
        std::wstring why;
        FolderVerdict verdict = JudgeFolderAt(folders[i], &why, &pins[i]);
        // A missing component folder is left to the load, which says so.
        if (verdict == FOLDER_TRUSTED || verdict == FOLDER_MISSING)
            continue;
        std::wstring text = HostFormat(L"%s %s %s", names[i], folders[i].c_str(), why.c_str());
        if (m_options.AllowUntrustedFolder()) {
            report.warnings.push_back(HostFormat(L"The run goes on (--allow-untrusted-folder) although %s: other "
                                                 L"accounts may change the files it reads.",
                                                 text.c_str()));
            continue;
        }
        m_output.WriteError(L"zolhost: " + text + L": run it from a folder only administrators can change "
                            L"(--allow-untrusted-folder runs it anyway, for trying it as a user)\r\n");
        return false;
    }
    return true;
}

void CHostSession::LogLoadFailure(const std::wstring& error)
{
    CCmpLog log(HOST_VERBOSE_LOG_NAME);
    PrepareLog(log);
    log.WriteLine(LOG_MAIN, SEV_ERROR, nullptr, 0, L"%s\r\n", error.c_str());
    log.WriteFooter(0);
    log.Close();
}

void CHostSession::AskProperties(CComponentLibrary& library, CHostReport& report)
{
    // The language code stays valid for the component during every call.
    std::vector<wchar_t> language = LanguageCode();

    for (int type = ZOL_PROP_NAME; type <= ZOL_PROP_PACKAGE_VERSION; ++type) {
        std::vector<wchar_t> buffer(kTextCapacity, L'\0');
        void* extra = (type == ZOL_PROP_NAME || type == ZOL_PROP_DESCRIPTION) ? language.data() : nullptr;
        CHostReport::Property& p = report.properties[type];
        p.result = library.GetProperty(type, buffer.data(), kTextCapacity, extra);
        buffer[kTextCapacity - 1] = L'\0'; // whatever the component wrote, stop inside the buffer
        if (p.result)
            p.text = buffer.data();
    }

    PREREQSTATUS status = {};
    CHostReport::Property& prereq = report.properties[ZOL_PROP_PREREQUISITES];
    prereq.result = library.GetProperty(ZOL_PROP_PREREQUISITES, &status, static_cast<int>(sizeof(status)), language.data());
    status.szMessage[ZOL_MESSAGE_CHARS - 1] = L'\0';
    if (prereq.result) {
        report.prereqStatus = status.nStatus;
        report.prereqMessage = status.szMessage;
    }

    for (int type = ZOL_PROP_SILENT_CAPABLE; type <= ZOL_PROP_FLAG8; ++type) {
        int value = 0;
        CHostReport::Property& p = report.properties[type];
        p.result = library.GetProperty(type, &value, static_cast<int>(sizeof(value)), nullptr);
        if (p.result)
            p.value = value;
    }
}

std::vector<wchar_t> CHostSession::LanguageCode() const
{
    std::vector<wchar_t> language(m_options.Language().begin(), m_options.Language().end());
    language.push_back(L'\0');
    return language;
}

int CHostSession::AskDevices(CComponentLibrary& library, int type, std::vector<CHostReport::Device>& devices,
                             int* packageState)
{
    // Asked with room for the header only first; the count may grow between
    // two calls (a device arriving), so the host asks again a few times at
    // most.
    std::vector<BYTE> block(ZOL_DEVICE_RESULTS_BYTES(0));
    auto header = [&block] { return reinterpret_cast<ZOL_DEVICE_RESULTS*>(block.data()); };
    header()->cbRecord = sizeof(ZOL_DEVICE_RESULT);
    int result = library.GetProperty(type, block.data(), static_cast<int>(block.size()), nullptr);
    for (int attempt = 0; !result && header()->nCount > 0 && attempt < 3; ++attempt) {
        size_t count = static_cast<size_t>(header()->nCount);
        block.assign(ZOL_DEVICE_RESULTS_BYTES(count), 0);
        header()->cbRecord = sizeof(ZOL_DEVICE_RESULT);
        result = library.GetProperty(type, block.data(), static_cast<int>(block.size()), nullptr);
    }
    // The answer replaces what an earlier question put here.
    devices.clear();
    const int count = header()->nCount;
    if (!result || count < 0 || ZOL_DEVICE_RESULTS_BYTES(count) > block.size())
        return 0;
    if (packageState)
        *packageState = header()->nPackageState;
    auto text = [](const wchar_t* field, size_t chars) { return std::wstring(field, wcsnlen(field, chars)); };
    for (int i = 0; i < count; ++i) {
        const ZOL_DEVICE_RESULT& r = header()->Devices[i];
        CHostReport::Device device;
        device.instanceId = text(r.szInstanceId, ZOL_DEVICE_ID_CHARS);
        device.hardwareId = text(r.szHardwareId, ZOL_HARDWARE_ID_CHARS);
        device.outcome = r.nOutcome;
        device.reason = r.nReason;
        device.error = r.dwError;
        device.restart = r.bRestart != 0;
        device.service = text(r.szService, ZOL_DEVICE_TEXT_CHARS);
        device.inf = text(r.szInf, ZOL_DEVICE_TEXT_CHARS);
        device.driverVersion = text(r.szDriverVersion, ZOL_DEVICE_TEXT_CHARS);
        device.action = r.nAction;
        device.targetInf = text(r.szTargetInf, ZOL_DEVICE_TEXT_CHARS);
        device.targetVersion = text(r.szTargetVersion, ZOL_DEVICE_TEXT_CHARS);
        devices.push_back(device);
    }
    return result;
}

bool CHostSession::TakeInstallLock(CInstallLock& lock, CCmpLog& log, CHostReport& report, std::wstring& message) const
{
    if (lock.Acquire(m_options.WaitSeconds() * 1000))
        return true;
    // Why not: another installation, a holder that is not an
    // administrator's, or a lock that cannot be taken at all.
    report.inProgressReason = InProgressReason(lock.BusyReason());
    message = InstallInProgressText(lock).GetString();
    log.WriteLine(LOG_MAIN, SEV_ERROR, nullptr, 0, L"%s\r\n", message.c_str());
    return false;
}

int CHostSession::RunInstall(CComponentLibrary& library, CCmpLog& log, CHostReport& report)
{
    int footerCode = report.properties[ZOL_PROP_PREREQUISITES].result;
    if (m_options.CheckOnly()) {
        report.exitCode = HOST_EXIT_SUCCESS;
    } else {
        // One installation at a time: held on this thread until Install has
        // returned, so the component's own wait for it succeeds at once.
        CInstallLock lock;
        if (!TakeInstallLock(lock, log, report, report.installMessage)) {
            report.installInProgress = true;
            report.exitCode = HOST_EXIT_INSTALL_IN_PROGRESS;
            footerCode = HOST_EXIT_INSTALL_IN_PROGRESS;
        } else {
            std::vector<wchar_t> language = LanguageCode();
            std::vector<wchar_t> message(kMessageCapacity, L'\0');
            report.installed = true;
            report.installResult = library.Install(0, nullptr, message.data(), 0, language.data());
            message[kMessageCapacity - 1] = L'\0';
            report.installMessage = message.data();
            report.exitCode = ExitCodeForInstallResult(report.installResult);
            footerCode = report.installResult;
        }
    }
    AskDevices(library, ZOL_PROP_DEVICE_RESULTS, report.devices, nullptr);
    return footerCode;
}

int CHostSession::RunUninstall(CComponentLibrary& library, CCmpLog& log, CHostReport& report)
{
    CHostReport::UninstallRun& run = report.uninstall;
    run.requested = true;
    run.check = m_options.CheckOnly();
    run.forced = m_options.Force();
    // The what-if, always and before anything changes.
    run.planResult = AskDevices(library, ZOL_PROP_UNINSTALL_PLAN, run.plan, &run.packageState);
    if (run.check) {
        report.exitCode = HOST_EXIT_SUCCESS;
        return run.planResult;
    }
    {
        // The install lock, as for Install.
        CInstallLock lock;
        if (!TakeInstallLock(lock, log, report, run.message)) {
            run.inProgress = true;
            report.exitCode = HOST_EXIT_INSTALL_IN_PROGRESS;
            return HOST_EXIT_INSTALL_IN_PROGRESS;
        }
        // Asked again now that no other installation can act before
        // Uninstall: the state it reports is the state Uninstall meets.
        run.planResult = AskDevices(library, ZOL_PROP_UNINSTALL_PLAN, run.plan, &run.packageState);
        std::vector<wchar_t> language = LanguageCode();
        std::vector<wchar_t> message(kMessageCapacity, L'\0');
        run.called = true;
        run.result = library.Uninstall(run.forced ? ZOL_UNINSTALL_FORCE : 0, nullptr, message.data(), 0,
                                       language.data());
        message[kMessageCapacity - 1] = L'\0';
        run.message = message.data();
    }
    report.exitCode = ExitCodeForUninstallResult(run.result, run.planResult, run.packageState);
    // What Uninstall did to each device. Before Uninstall, property 10 would
    // describe what an install would update, so it is asked only after it.
    AskDevices(library, ZOL_PROP_DEVICE_RESULTS, report.devices, nullptr);
    return run.result;
}

int CHostSession::Run()
{
    CHostReport report;
    report.language = m_options.Language();

    // A relative component path names a file in the folder the host was
    // started in, also when --package names another one.
    std::wstring componentPath = CComponentLibrary::FullPathName(m_options.ComponentPath());
    if (componentPath.empty())
        componentPath = m_options.ComponentPath();
    if (!EnterPackageFolder())
        return HOST_EXIT_BAD_ARGUMENTS;
    CUniqueFile pins[2];
    if (!JudgeFolders(componentPath, pins, report))
        return HOST_EXIT_BAD_ARGUMENTS;
    const std::wstring current = CurrentFolder();
    if (!IsInFolder(componentPath, current))
        report.warnings.push_back(OutsidePackageWarning(FolderOf(componentPath), current));

    // Set up before the component is loaded and left after it is unloaded.
    CHostApartment apartment(m_options.SingleThreaded());
    if (FAILED(apartment.Result())) {
        m_output.WriteError(HostFormat(L"zolhost: cannot initialise COM single-threaded: error 0x%08lx\r\n",
                                       static_cast<unsigned long>(apartment.Result())));
        return HOST_EXIT_FAILURE;
    }

    CComponentLibrary library;
    if (!library.Load(componentPath)) {
        m_output.WriteError(L"zolhost: " + library.Error() + L"\r\n");
        LogLoadFailure(library.Error());
        return HOST_EXIT_FAILURE;
    }
    report.componentPath = library.FullPath();
    if (m_options.Uninstall() && !library.CanUninstall()) {
        // Nothing is called, as for a library that lacks one of the first
        // three exports: asking the questions would not do what was asked.
        const std::wstring error = library.FullPath() + L" cannot uninstall its package: it has no export Uninstall";
        m_output.WriteError(L"zolhost: " + error + L"\r\n");
        LogLoadFailure(error);
        return HOST_EXIT_FAILURE;
    }

    // The host's log. Once handed over, the component writes through it; it
    // must outlive every call into the component.
    CCmpLog log(HOST_VERBOSE_LOG_NAME);
    NoteLogState(log, PrepareLog(log), report);
    library.GetProperty(ZOL_PROP_HOST_LOG, &log, 0, nullptr);

    report.interfaceResult = library.GetInterfaceVersion(&report.interfaceVersion);
    AskProperties(library, report);

    const int footerCode =
        m_options.Uninstall() ? RunUninstall(library, log, report) : RunInstall(library, log, report);

    if (m_options.SingleThreaded())
        report.hostApartment = ApartmentName();

    log.WriteFooter(footerCode);
    log.Close();
    library.Unload();

    m_output.Write(m_options.Json() ? report.RenderJson() : report.RenderText());
    if (m_options.Pause())
        m_output.WaitForEnter(kPauseMs);
    return report.exitCode;
}
