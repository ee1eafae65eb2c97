// CHostOptions: the host's command line.
//   zolhost [--lang CODE] [--package DIR] [--wait SECONDS] [--sta] [--check] [--json]
//           [--uninstall [--force]] [--pause] [--allow-untrusted-folder] [/verbose_log] [/consoleout]
//           PATH\zolcomp.dll
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
    // The package folder the host makes its current folder; empty: stay.
    const std::wstring& PackageDir() const { return m_packageDir; }
    // Initialise COM single-threaded on the host's thread around the run.
    bool SingleThreaded() const { return m_singleThreaded; }
    // Ask the questions (and with --uninstall the what-if) only; change nothing.
    bool CheckOnly() const { return m_checkOnly; }
    // Take the package off (Uninstall) instead of installing it.
    bool Uninstall() const { return m_uninstall; }
    // With Uninstall: devices may be left without a driver.
    bool Force() const { return m_force; }
    bool Json() const { return m_json; }
    // After the report, wait for Enter when a person is at the console.
    bool Pause() const { return m_pause; }
    // How long to wait for another installation to finish, in seconds.
    unsigned WaitSeconds() const { return m_waitSeconds; }
    // Run from a component or package folder that others may change (for
    // trying the host as a user; never for an elevated run).
    bool AllowUntrustedFolder() const { return m_allowUntrustedFolder; }
    const std::wstring& Error() const { return m_error; }

    static const wchar_t* UsageLine();
    static std::wstring HelpText();

private:
    ParseResult Fail(const std::wstring& error);
    // Digits only, at most kMaxWaitSeconds; stores the value.
    bool ParseSeconds(const std::wstring& text);
    // "--name VALUE" or "--name=VALUE" at argv[i]: 1 taken (i moved past the
    // value), 0 not this option, -1 the value is missing.
    // The longest --wait: a day.
    static const unsigned kMaxWaitSeconds = 86400;
    static int TakeValue(const wchar_t* name, int argc, const wchar_t* const* argv, int& i, std::wstring& value);

    std::wstring m_componentPath;
    std::wstring m_language;
    std::wstring m_packageDir;
    bool m_singleThreaded;
    bool m_checkOnly;
    bool m_uninstall;
    bool m_force;
    bool m_json;
    bool m_pause;
    bool m_allowUntrustedFolder;
    unsigned m_waitSeconds;
    std::wstring m_error;
};
