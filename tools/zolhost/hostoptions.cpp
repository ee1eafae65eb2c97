#include "hostoptions.h"

CHostOptions::CHostOptions()
    : m_language(L"en"), m_singleThreaded(false), m_checkOnly(false), m_uninstall(false), m_force(false),
      m_json(false), m_pause(false), m_allowUntrustedFolder(false), m_waitSeconds(0)
{
}

const wchar_t* CHostOptions::UsageLine()
{
    return L"usage: zolhost [--lang CODE] [--package DIR] [--wait SECONDS] [--sta] [--check] [--json]\r\n"
           L"               [--uninstall [--force]] [--pause] [--allow-untrusted-folder] [/verbose_log]\r\n"
           L"               [/consoleout]\r\n"
           L"               PATH\\zolcomp.dll\r\n"
           L"       zolhost --help\r\n";
}

std::wstring CHostOptions::HelpText()
{
    return std::wstring(UsageLine()) +
           L"\r\n"
           L"Loads the installer component PATH\\zolcomp.dll, asks it about its package and\r\n"
           L"installs the package (or, with --uninstall, takes it off again). Run it in\r\n"
           L"the package directory, or name that directory with --package: the component\r\n"
           L"reads its package files from the current directory but the INF file from its\r\n"
           L"own folder, so keep the component in the package directory. When its folder\r\n"
           L"is not the current directory the report (and the JSON \"warnings\") says so.\r\n"
           L"\r\n"
           L"The host creates its own log, hands it to the component (property 9), asks for\r\n"
           L"the interface version and properties 1 to 8, then calls Install, and prints a\r\n"
           L"report of every answer. With --uninstall it asks the what-if (property 11)\r\n"
           L"after property 8 and calls Uninstall instead of Install.\r\n"
           L"\r\n"
           L"Options:\r\n"
           L"  --lang CODE   language for the package name, description and messages:\r\n"
           L"                en, fr, it, de, es or ja; any other code means English\r\n"
           L"                (default: en). --lang=CODE works too.\r\n"
           L"  --package DIR make DIR the current directory before loading the component\r\n"
           L"                (--package=DIR works too). A relative component path is\r\n"
           L"                still taken from the directory zolhost was started in. A\r\n"
           L"                DIR that cannot be entered ends the run with exit code 87\r\n"
           L"                before anything is loaded.\r\n"
           L"  --wait SECONDS  before Install (or Uninstall), wait at most SECONDS (0 to\r\n"
           L"                86400, default 0) for another installation on this machine to\r\n"
           L"                finish. When it has not, Install (Uninstall) is not called\r\n"
           L"                and the exit code is 1618.\r\n"
           L"  --sta         initialise COM single-threaded on the host's thread before\r\n"
           L"                loading the component (as a setup program with windows\r\n"
           L"                does) and uninitialise it after unloading; the report shows\r\n"
           L"                the thread's COM apartment after the last call.\r\n"
           L"  --check       answer the questions only; do not call Install. With\r\n"
           L"                --uninstall: ask the what-if only; nothing changes.\r\n"
           L"  --uninstall   take the package off again: each device that uses its driver\r\n"
           L"                goes back to the driver it had before (or the next-best\r\n"
           L"                one), and what the package created is removed. A component\r\n"
           L"                without the Uninstall export: exit code 1603, nothing called.\r\n"
           L"  --force       with --uninstall: a device for which no driver would be left\r\n"
           L"                is left without one (without --force Uninstall refuses and\r\n"
           L"                changes nothing).\r\n"
           L"  --json        print one JSON object instead of the readable report.\r\n"
           L"  --pause       after the report, when the standard input is a console, ask\r\n"
           L"                for Enter before ending (at most 10 minutes), so that a\r\n"
           L"                window opened for the run stays readable.\r\n"
           L"  --allow-untrusted-folder  run even when the component's folder or the\r\n"
           L"                package folder is a link, is owned by another account or\r\n"
           L"                lets accounts other than SYSTEM and Administrators change\r\n"
           L"                it (the report then warns). Only for trying zolhost as a\r\n"
           L"                user: run elevated from such a folder, it lets those\r\n"
           L"                accounts swap the files it reads. Without it such a folder\r\n"
           L"                ends the run with exit code 87 before anything is loaded.\r\n"
           L"  --help        print this text and exit.\r\n"
           L"  /verbose_log  also write the verbose log (any letter case).\r\n"
           L"  /consoleout   let the component open a console window.\r\n"
           L"\r\n"
           L"Every argument that begins with \"/\" is left to the component, which reads the\r\n"
           L"whole command line. Output (report or JSON) is written as UTF-8.\r\n"
           L"\r\n"
           L"Properties: 1 package name, 2 package description, 3 installed version,\r\n"
           L"4 package version, 5 prerequisite check (status code and message),\r\n"
           L"6 and 7 silent installation possible, 8 always 1. A property whose result\r\n"
           L"is 0 has no value: the report says \"(none)\" and JSON gives null.\r\n"
           L"\r\n"
           L"Devices: the component's per-device results (property 10): before Install\r\n"
           L"(and with --check) the supported devices present with the driver each has\r\n"
           L"(outcome \"present\"); after Install each device it acted on: \"updated\",\r\n"
           L"\"failed\" (with the platform's error code) or \"not_attempted\" (with why),\r\n"
           L"and whether it needs a restart. The readable report shows them as a table.\r\n"
           L"With --uninstall, the plan lists each device Uninstall would act on (outcome\r\n"
           L"\"planned\") with its action (restore_previous, next_best, no_driver,\r\n"
           L"remove_device) and the driver it would move to; after Uninstall the devices\r\n"
           L"show the action taken and its outcome (\"updated\", \"removed\", \"failed\" or\r\n"
           L"\"not_attempted\"). Property 10 is asked only once Uninstall was called.\r\n"
           L"\r\n"
           L"JSON: one object, described by docs/zolhost-report.schema.json:\r\n"
           L"{\"report_version\":2,\"interface_version\":N,\"properties\":{\"1\":{\"result\":R,\r\n"
           L"\"value\":\"...\"},...,\"5\":{\"result\":R,\"status\":S,\"message\":\"...\"},...},\r\n"
           L"\"install\":{\"result\":R,\"message\":\"...\",\"in_progress\":false},\"devices\":[{...}],\r\n"
           L"\"log\":{\"written\":true,\"reason\":null},\"warnings\":[\"...\"],\r\n"
           L"\"host_apartment\":\"single-threaded\"} (no \"install\" with --check;\r\n"
           L"\"result\":null, \"in_progress\":true and \"in_progress_reason\" when the\r\n"
           L"install lock could not be taken: \"installation\" (another one holds it),\r\n"
           L"\"not_administrator\" (a process that is not an administrator's holds it) or\r\n"
           L"\"lock_unavailable\"; \"log\" says whether the log could be written, and why\r\n"
           L"not; \"warnings\" only when there is one; \"host_apartment\" only with --sta).\r\n"
           L"With --uninstall \"uninstall\" takes the place of \"install\":\r\n"
           L"{\"result\":R,\"message\":\"...\",\"in_progress\":false,\"package_state\":\"installed\",\r\n"
           L"\"forced\":false,\"check\":false,\"plan\":[{...}]} (\"result\":null when Uninstall\r\n"
           L"was not called), and each device also has \"action\", \"target_inf\" and\r\n"
           L"\"target_version\".\r\n"
           L"\r\n"
           L"Logs: C:\\devavoror\\log\\zolsetup.log (shared by the host and the component);\r\n"
           L"with /verbose_log also the verbose log in the same directory (\"zolhost.log\",\r\n"
           L"renamed after the package once the component has taken it over). The\r\n"
           L"footer's return code is Install's result (with --check: property 5's result;\r\n"
           L"with --uninstall: Uninstall's, with --check property 11's; 1618 when\r\n"
           L"another installation was in progress).\r\n"
           L"\r\n"
           L"Exit codes:\r\n"
           L"  0     installed (Install returned 1); uninstalled (Uninstall returned 1);\r\n"
           L"        with --check: the questions were asked\r\n"
           L"  3010  installed or uninstalled, restart required (the call returned 2)\r\n"
           L"  1603  installation or uninstallation failed (the call returned 0), or the\r\n"
           L"        component could not be loaded or lacks one of its exports\r\n"
           L"  1605  --uninstall: the package is not installed (the what-if said so and\r\n"
           L"        Uninstall returned 0); nothing was changed\r\n"
           L"  1618  the install lock could not be taken (another installation is in\r\n"
           L"        progress, or the report says why not): Install (Uninstall) was not\r\n"
           L"        called\r\n"
           L"  87    bad command line (--force without --uninstall, for one), the --package\r\n"
           L"        directory cannot be entered, or the component's or the package folder\r\n"
           L"        is not trusted\r\n";
}

CHostOptions::ParseResult CHostOptions::Fail(const std::wstring& error)
{
    m_error = error;
    return PARSE_USAGE;
}

int CHostOptions::TakeValue(const wchar_t* name, int argc, const wchar_t* const* argv, int& i,
                            std::wstring& value)
{
    const std::wstring arg = argv[i];
    const std::wstring option(name);
    if (arg == option) {
        if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == L'\0')
            return -1;
        value = argv[++i];
        return 1;
    }
    if (arg.compare(0, option.size() + 1, option + L"=") == 0) {
        if (arg.size() == option.size() + 1)
            return -1;
        value = arg.substr(option.size() + 1);
        return 1;
    }
    return 0;
}

CHostOptions::ParseResult CHostOptions::Parse(int argc, const wchar_t* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i] ? argv[i] : L"";
        if (!arg.empty() && arg[0] == L'/')
            continue; // the component's switch
        if (arg == L"--help" || arg == L"-h")
            return PARSE_HELP;
        if (arg.empty())
            return Fail(L"empty argument");
        int taken = TakeValue(L"--lang", argc, argv, i, m_language);
        if (taken < 0)
            return Fail(L"--lang needs a language code");
        if (taken == 0)
            taken = TakeValue(L"--package", argc, argv, i, m_packageDir);
        if (taken < 0)
            return Fail(L"--package needs a folder");
        if (taken == 0) {
            std::wstring seconds;
            taken = TakeValue(L"--wait", argc, argv, i, seconds);
            if (taken < 0 || (taken > 0 && !ParseSeconds(seconds)))
                return Fail(L"--wait needs a number of seconds from 0 to 86400");
        }
        if (taken > 0)
            continue;
        if (arg == L"--check") {
            m_checkOnly = true;
        } else if (arg == L"--uninstall") {
            m_uninstall = true;
        } else if (arg == L"--force") {
            m_force = true;
        } else if (arg == L"--json") {
            m_json = true;
        } else if (arg == L"--pause") {
            m_pause = true;
        } else if (arg == L"--sta") {
            m_singleThreaded = true;
        } else if (arg == L"--allow-untrusted-folder") {
            m_allowUntrustedFolder = true;
        } else if (arg[0] == L'-') {
            return Fail(L"unknown option " + arg);
        } else if (!m_componentPath.empty()) {
            return Fail(L"more than one component path: " + m_componentPath + L" and " + arg);
        } else {
            m_componentPath = arg;
        }
    }
    if (m_componentPath.empty())
        return Fail(L"missing the component path (PATH\\zolcomp.dll)");
    if (m_force && !m_uninstall)
        return Fail(L"--force is for --uninstall only");
    return PARSE_RUN;
}

bool CHostOptions::ParseSeconds(const std::wstring& text)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value > kMaxWaitSeconds)
        return false;
    m_waitSeconds = value;
    return true;
}
