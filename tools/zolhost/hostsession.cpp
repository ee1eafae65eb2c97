#include "hostsession.h"

#include "basecomp.h"
#include "log/cmplog.h"

#include <vector>

namespace {

const int kTextCapacity = 1024; // characters, for properties 1 to 4 and Install's message

// Property 5 is asked with the whole status record: a status code and a
// message of 1024 characters.
static_assert(sizeof(PREREQSTATUS) == 2052, "the status record is 2052 bytes");

} // namespace

CHostSession::CHostSession(const CHostOptions& options, CHostOutput& output) : m_options(options), m_output(output) {}

int CHostSession::ExitCodeForInstallResult(int result)
{
    switch (result) {
    case 1: return HOST_EXIT_SUCCESS;
    case 2: return HOST_EXIT_RESTART;
    default: return HOST_EXIT_FAILURE;
    }
}

void CHostSession::PrepareLog(CCmpLog& log)
{
    // The same switch rule as the component's: anywhere on the command line,
    // in any letter case.
    if (CBaseComponent::FindSubstring(GetCommandLineW(), L"/verbose_log") >= 0)
        log.SetVerbose(1);
    log.SetStubVersion(HOST_STUB_VERSION);
    log.Open();
    log.WriteHeader();
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
    std::vector<wchar_t> language(m_options.Language().begin(), m_options.Language().end());
    language.push_back(L'\0');

    for (int type = 1; type <= 4; ++type) {
        std::vector<wchar_t> buffer(kTextCapacity, L'\0');
        void* extra = (type == 1 || type == 2) ? language.data() : nullptr;
        CHostReport::Property& p = report.properties[type];
        p.result = library.GetProperty(type, buffer.data(), kTextCapacity, extra);
        buffer[kTextCapacity - 1] = L'\0'; // whatever the component wrote, stop inside the buffer
        if (p.result)
            p.text = buffer.data();
    }

    PREREQSTATUS status = {};
    CHostReport::Property& prereq = report.properties[5];
    prereq.result = library.GetProperty(5, &status, static_cast<int>(sizeof(status)), language.data());
    status.szMessage[sizeof(status.szMessage) / sizeof(status.szMessage[0]) - 1] = L'\0';
    if (prereq.result) {
        report.prereqStatus = status.nStatus;
        report.prereqMessage = status.szMessage;
    }

    for (int type = 6; type <= 8; ++type) {
        int value = 0;
        CHostReport::Property& p = report.properties[type];
        p.result = library.GetProperty(type, &value, static_cast<int>(sizeof(value)), nullptr);
        if (p.result)
            p.value = value;
    }
}

int CHostSession::Run()
{
    CHostReport report;
    report.language = m_options.Language();

    CComponentLibrary library;
    if (!library.Load(m_options.ComponentPath())) {
        m_output.WriteError(L"zolhost: " + library.Error() + L"\r\n");
        LogLoadFailure(library.Error());
        return HOST_EXIT_FAILURE;
    }
    report.componentPath = library.FullPath();

    // The host's log. Once handed over, the component writes through it; it
    // must outlive every call into the component.
    CCmpLog log(HOST_VERBOSE_LOG_NAME);
    PrepareLog(log);
    library.GetProperty(9, &log, 0, nullptr);

    report.interfaceResult = library.GetInterfaceVersion(&report.interfaceVersion);
    AskProperties(library, report);

    int footerCode = report.properties[5].result;
    if (m_options.CheckOnly()) {
        report.exitCode = HOST_EXIT_SUCCESS;
    } else {
        std::vector<wchar_t> language(m_options.Language().begin(), m_options.Language().end());
        language.push_back(L'\0');
        std::vector<wchar_t> message(kTextCapacity, L'\0');
        report.installed = true;
        report.installResult = library.Install(0, nullptr, message.data(), 0, language.data());
        message[kTextCapacity - 1] = L'\0';
        report.installMessage = message.data();
        report.exitCode = ExitCodeForInstallResult(report.installResult);
        footerCode = report.installResult;
    }

    log.WriteFooter(footerCode);
    log.Close();
    library.Unload();

    m_output.Write(m_options.Json() ? report.RenderJson() : report.RenderText());
    return report.exitCode;
}
