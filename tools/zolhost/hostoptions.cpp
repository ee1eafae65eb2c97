#include "hostoptions.h"

CHostOptions::CHostOptions() : m_language(L"en"), m_checkOnly(false), m_json(false) {}

const wchar_t* CHostOptions::UsageLine()
{
    return L"usage: zolhost [--lang CODE] [--check] [--json] [/verbose_log] [/consoleout] PATH\\zolcomp.dll\r\n"
           L"       zolhost --help\r\n";
}

std::wstring CHostOptions::HelpText()
{
    return std::wstring(UsageLine()) +
           L"\r\n"
           L"Loads the installer component PATH\\zolcomp.dll, asks it about its package and\r\n"
           L"installs the package. Run it in the package directory: the component reads\r\n"
           L"its package files from the current directory.\r\n"
           L"\r\n"
           L"The host creates its own log, hands it to the component (property 9), asks for\r\n"
           L"the interface version and properties 1 to 8, then calls Install, and prints a\r\n"
           L"report of every answer.\r\n"
           L"\r\n"
           L"Options:\r\n"
           L"  --lang CODE   language for the package name, description and messages:\r\n"
           L"                en, fr, it, de, es or ja; any other code means English\r\n"
           L"                (default: en). --lang=CODE works too.\r\n"
           L"  --check       answer the questions only; do not call Install.\r\n"
           L"  --json        print one JSON object instead of the readable report.\r\n"
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
           L"JSON: {\"interface_version\":N,\"properties\":{\"1\":{\"result\":R,\"value\":\"...\"},...,\r\n"
           L"\"5\":{\"result\":R,\"status\":S,\"message\":\"...\"},\"6\":{\"result\":R,\"value\":V},...},\r\n"
           L"\"install\":{\"result\":R,\"message\":\"...\"}} (no \"install\" with --check).\r\n"
           L"\r\n"
           L"Logs: C:\\devavoror\\log\\zolsetup.log (shared by the host and the component);\r\n"
           L"with /verbose_log also the verbose log in the same directory (\"zolhost.log\",\r\n"
           L"renamed after the package once the component has taken it over). The\r\n"
           L"footer's return code is Install's result (with --check: property 5's result).\r\n"
           L"\r\n"
           L"Exit codes:\r\n"
           L"  0     installed (Install returned 1); with --check: the questions were asked\r\n"
           L"  3010  installed, restart required (Install returned 2)\r\n"
           L"  1603  installation failed (Install returned 0), or the component could not\r\n"
           L"        be loaded or lacks one of its exports\r\n"
           L"  87    bad command line\r\n";
}

CHostOptions::ParseResult CHostOptions::Fail(const std::wstring& error)
{
    m_error = error;
    return PARSE_USAGE;
}

CHostOptions::ParseResult CHostOptions::Parse(int argc, const wchar_t* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i] ? argv[i] : L"";
        if (!arg.empty() && arg[0] == L'/')
            continue; // the component's switch
        if (arg == L"--help" || arg == L"-h")
            return PARSE_HELP;
        if (arg == L"--check") {
            m_checkOnly = true;
        } else if (arg == L"--json") {
            m_json = true;
        } else if (arg == L"--lang") {
            if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == L'\0')
                return Fail(L"--lang needs a language code");
            m_language = argv[++i];
        } else if (arg.compare(0, 7, L"--lang=") == 0) {
            if (arg.size() == 7)
                return Fail(L"--lang needs a language code");
            m_language = arg.substr(7);
        } else if (!arg.empty() && arg[0] == L'-') {
            return Fail(L"unknown option " + arg);
        } else if (arg.empty()) {
            return Fail(L"empty argument");
        } else if (!m_componentPath.empty()) {
            return Fail(L"more than one component path: " + m_componentPath + L" and " + arg);
        } else {
            m_componentPath = arg;
        }
    }
    if (m_componentPath.empty())
        return Fail(L"missing the component path (PATH\\zolcomp.dll)");
    return PARSE_RUN;
}
