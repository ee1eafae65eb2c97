// The test build's change points (see changepoint.h). The points are
// counted from the process's start. ZOL_CUT_NOTE names a file that receives
// one line per point reached, "<n>\t<call>\t<argument>", so that a run that
// is not cut tells how many points it passed and a cut run which call it was
// stopped before. ZOL_CUT_AT=N ends the process at the N-th point, before
// its call, with exit code kCutExitCode, as a power cut or a killed host
// would (no destructor, no log footer, nothing flushed). Both are read once.
#include "support/changepoint.h"

#if defined(ZOL_CHANGE_POINTS)

#include <windows.h>

#include "support/handles.h"

#include <cstdlib>
#include <string>

namespace {

// The exit code of a run cut at its point.
const UINT kCutExitCode = 0xC7;

struct CUTSETTINGS {
    bool read = false;
    unsigned long cutAt = 0; // 0: never
    std::wstring notePath;
    unsigned long reached = 0;
};

CUTSETTINGS& Settings()
{
    static CUTSETTINGS settings;
    if (!settings.read) {
        settings.read = true;
        wchar_t value[MAX_PATH] = {};
        DWORD length = GetEnvironmentVariableW(L"ZOL_CUT_AT", value, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            settings.cutAt = std::wcstoul(value, nullptr, 10);
        length = GetEnvironmentVariableW(L"ZOL_CUT_NOTE", value, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            settings.notePath = value;
    }
    return settings;
}

// One line appended to the note file, written whole in one call.
void Note(const std::wstring& path, unsigned long number, const char* call, const wchar_t* argument)
{
    CUniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    std::wstring text = std::to_wstring(number) + L"\t";
    for (const char* c = call; c && *c; ++c)
        text.push_back(static_cast<wchar_t>(*c));
    text += L"\t";
    for (const wchar_t* c = argument; c && *c; ++c)
        text.push_back(*c == L'\r' || *c == L'\n' || *c == L'\t' ? L' ' : *c);
    text += L"\n";
    int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        std::string narrow(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr,
                            nullptr);
        DWORD written = 0;
        WriteFile(file.get(), narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
    }
}

} // namespace

namespace changepoint {

void Reach(const char* call, const wchar_t* argument)
{
    CUTSETTINGS& settings = Settings();
    unsigned long number = ++settings.reached;
    if (!settings.notePath.empty())
        Note(settings.notePath, number, call, argument);
    if (settings.cutAt != 0 && number == settings.cutAt)
        TerminateProcess(GetCurrentProcess(), kCutExitCode);
}

} // namespace changepoint

#endif
