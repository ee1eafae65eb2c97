// CHostOptions: the host's command line.
//   zolhost [--lang CODE] [--check] [--json] [/verbose_log] [/consoleout] PATH\zolcomp.dll
// Arguments that begin with "/" belong to the component, which reads the whole
// process command line itself; the host leaves them alone.
#pragma once

#include <string>

class CHostOptions
{
public:
    enum ParseResult {
        PARSE_RUN,   // options complete: run the component
        PARSE_HELP,  // --help was given
        PARSE_USAGE, // bad command line; Error() says why
    };

    CHostOptions();

    ParseResult Parse(int argc, const wchar_t* const* argv);

    const std::wstring& ComponentPath() const { return m_componentPath; }
    const std::wstring& Language() const { return m_language; }
    bool CheckOnly() const { return m_checkOnly; }
    bool Json() const { return m_json; }
    const std::wstring& Error() const { return m_error; }

    static const wchar_t* UsageLine();
    static std::wstring HelpText();

private:
    ParseResult Fail(const std::wstring& error);

    std::wstring m_componentPath;
    std::wstring m_language;
    bool m_checkOnly;
    bool m_json;
    std::wstring m_error;
};
