#include "testsupport.h"

#include "support/trustedfolder.h"

#include <aclapi.h>
#include <sddl.h>

#include <regex>

namespace zoltest {

std::wstring BinDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash)
        *slash = 0;
    return path;
}

std::wstring BinPath(const wchar_t* name)
{
    return BinDir() + L"\\" + name;
}

namespace {

// A Linux path of the build as Wine sees it, on drive Z:.
std::wstring WinePath(const char* path)
{
    std::wstring s = FromUtf8(path);
    for (auto& c : s)
        if (c == L'/')
            c = L'\\';
    return L"Z:" + s;
}

} // namespace

std::wstring SourceDir()
{
    return WinePath(ZOL_SOURCE_DIR);
}

std::wstring ExamplePath(const wchar_t* example)
{
    return WinePath(ZOL_PACKAGES_DIR) + L"\\" + example;
}

bool RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    return RemoveDirectoryW(path.c_str()) != 0;
}

std::wstring MakeTestDir(const std::wstring& name)
{
    CreateDirectoryW(L"C:\\zoltest", nullptr);
    std::wstring dir = L"C:\\zoltest\\" + name;
    RemoveTree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool CopyTree(const std::wstring& src, const std::wstring& dst)
{
    CreateDirectoryW(dst.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((src + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(src + L"\\" + name, dst + L"\\" + name) && ok;
        else
            ok = CopyFileW((src + L"\\" + name).c_str(), (dst + L"\\" + name).c_str(), FALSE) && ok;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return ok;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

bool WriteUtf8(const std::wstring& path, const std::wstring& text)
{
    return WriteBytes(path, ToUtf8(text));
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string data;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        data.append(buffer, read);
    CloseHandle(h);
    return data;
}

bool FileExists(const std::wstring& path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

static std::string Convert(UINT cp, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string ToUtf8(const std::wstring& text) { return Convert(CP_UTF8, text); }
std::string ToAnsi(const std::wstring& text) { return Convert(CP_ACP, text); }

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

namespace {

// Keeps a JSON report zolhost printed in the build's report folder, where
// the report_schema test validates every report the tests produced.
void KeepHostReport(const std::wstring& commandLine, const std::string& output)
{
    if (commandLine.find(L"zolhost.exe") == std::wstring::npos || commandLine.find(L"--json") == std::wstring::npos)
        return;
    size_t first = output.find_first_not_of(" \r\n"), last = output.find_last_not_of(" \r\n");
    if (first == std::string::npos || output[first] != '{' || output[last] != '}')
        return;
    static unsigned s_count = 0;
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const wchar_t* name = wcsrchr(program, L'\\');
    std::wstring folder = WinePath(ZOL_REPORTS_DIR);
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteBytes(folder + L"\\" + std::wstring(name ? name + 1 : program) + L"-" +
                   std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++s_count) + L".json",
               output.substr(first, last - first + 1));
}

} // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workDir, DWORD timeoutMs)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readPipe = nullptr, writePipe = nullptr;
    if (!CreatePipe(&readPipe, &writePipe, &sa, 0))
        return result;
    SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writePipe;
    si.hStdError = writePipe;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(0);
    BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  workDir.empty() ? nullptr : workDir.c_str(), &si, &pi);
    CloseHandle(writePipe);
    if (!started) {
        CloseHandle(readPipe);
        result.output = "CreateProcess failed: " + std::to_string(GetLastError());
        return result;
    }
    // The output is read until the process has ended and the pipe holds
    // nothing more. Waiting for the pipe's end instead could wait for ever: a
    // process the child starts (COM starts helper processes under Wine) may
    // inherit the pipe's write end and keep it open.
    char buffer[4096];
    DWORD startedAt = GetTickCount();
    bool ended = false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readPipe, nullptr, 0, nullptr, &available, nullptr))
            break; // every writer has closed the pipe
        if (available > 0) {
            DWORD read = 0;
            if (!ReadFile(readPipe, buffer, sizeof(buffer) < available ? sizeof(buffer) : available, &read, nullptr) ||
                read == 0)
                break;
            result.output.append(buffer, read);
            continue;
        }
        if (ended)
            break;
        DWORD elapsed = GetTickCount() - startedAt;
        if (elapsed >= timeoutMs) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            ended = true;
            continue;
        }
        // Once the process has ended, one more pass takes what it wrote last.
        ended = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
    }
    CloseHandle(readPipe);
    if (WaitForSingleObject(pi.hProcess, ended ? 0 : timeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 0xDEAD);
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    KeepHostReport(commandLine, result.output);
    return result;
}

bool InstallComponentInto(const std::wstring& dir)
{
    return CopyFileW(BinPath(L"zolcomp.dll").c_str(), (dir + L"\\zolcomp.dll").c_str(), FALSE) != 0;
}

ProcessResult RunHost(const std::wstring& dir, const std::wstring& args, DWORD timeoutMs)
{
    InstallComponentInto(dir);
    std::wstring cmd = L"\"" + BinPath(L"zolhost.exe") + L"\" " + args + L" \"" + dir + L"\\zolcomp.dll\"";
    return RunProcess(cmd, dir, timeoutMs);
}

CDllOverride::CDllOverride(const wchar_t* dll, const wchar_t* value) : m_dll(dll)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

CDllOverride::~CDllOverride() { RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", m_dll.c_str()); }

bool EditFile(const std::wstring& path, const std::string& from, const std::string& to)
{
    std::string text = ReadBytes(path);
    size_t at = text.find(from);
    if (at == std::string::npos)
        return false;
    text.replace(at, from.size(), to);
    return WriteBytes(path, text);
}

std::string UnixPath(const std::wstring& path)
{
    typedef char*(CDECL * UnixFileName)(LPCWSTR);
    UnixFileName convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (convert == nullptr)
        return std::string();
    char* name = convert(path.c_str());
    std::string result = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Wine starts a program that is not a Windows one as a Linux process, but
// hands back no handle to wait on: the caller waits for the effect.
bool StartUnix(const std::string& commandLine)
{
    std::wstring line = FromUtf8(commandLine);
    std::vector<wchar_t> cmd(line.begin(), line.end());
    cmd.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    return true;
}

namespace {

const DWORD kUnixEffectMs = 20000;

template <typename Done>
bool WaitForEffect(Done done)
{
    for (DWORD waited = 0; waited < kUnixEffectMs; waited += 20) {
        if (done())
            return true;
        Sleep(20);
    }
    return done();
}

bool IsLink(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

bool MakeUnixLink(const std::wstring& target, const std::wstring& link)
{
    std::string from = UnixPath(target), to = UnixPath(link);
    if (from.empty() || to.empty() || !StartUnix("/bin/ln -s " + from + " " + to))
        return false;
    return WaitForEffect([&] { return IsLink(link); });
}

bool RemoveUnixLink(const std::wstring& link)
{
    if (!IsLink(link))
        return true;
    std::string path = UnixPath(link);
    if (path.empty() || !StartUnix("/bin/rm -f " + path))
        return false;
    return WaitForEffect([&] { return !IsLink(link); });
}

bool UnixChmod(const std::wstring& path, const char* mode, const std::string& readsBack)
{
    std::string unixPath = UnixPath(path);
    if (unixPath.empty() || !StartUnix(std::string("/bin/chmod ") + mode + " " + unixPath))
        return false;
    return WaitForEffect([&] { return ReadSecurity(path).find(readsBack) != std::string::npos; });
}

std::string ReadSecurity(const std::wstring& path)
{
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd) !=
        ERROR_SUCCESS)
        return std::string();
    LPWSTR text = nullptr;
    std::string result;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr)) {
        result = ToUtf8(text);
        LocalFree(text);
    }
    LocalFree(sd);
    return result;
}

std::wstring LogDir() { return L"C:\\devavoror\\log"; }
std::wstring MainLogPath() { return LogDir() + L"\\zolsetup.log"; }
std::string ReadMainLog() { return ReadBytes(MainLogPath()); }

std::vector<std::wstring> VerboseLogPaths()
{
    struct Entry {
        FILETIME time;
        std::wstring path;
    };
    std::vector<Entry> entries;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((LogDir() + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            if (_wcsicmp(fd.cFileName, L"zolsetup.log") == 0)
                continue;
            entries.push_back({fd.ftLastWriteTime, LogDir() + L"\\" + fd.cFileName});
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    std::vector<std::wstring> paths;
    for (auto& e : entries)
        paths.push_back(e.path);
    return paths;
}

std::string ReadVerboseLogs()
{
    std::string all;
    for (auto& p : VerboseLogPaths())
        all += ReadBytes(p);
    return all;
}

void ClearLogs()
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((LogDir() + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((LogDir() + L"\\" + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::wstring AddDevice(const std::vector<std::wstring>& hardwareIds)
{
    std::wstring cmd = L"\"" + BinPath(L"devsim.exe") + L"\" add";
    for (auto& id : hardwareIds)
        cmd += L" \"" + id + L"\"";
    // Under heavy load an add has failed once without a cause that could be
    // reproduced; a second try after a pause keeps that from failing a test,
    // and the first failure's text stays in the test's output.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ProcessResult r = RunProcess(cmd);
        std::string out = r.output;
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        if (r.exitCode == 0)
            return FromUtf8(out);
        fprintf(stderr, "devsim add failed (exit %lu): %s\n", r.exitCode, r.output.c_str());
        Sleep(500);
    }
    return std::wstring();
}

ProcessResult RunDevsim(const std::wstring& args)
{
    return RunProcess(L"\"" + BinPath(L"devsim.exe") + L"\" " + args);
}

CInstallLockHolder::CInstallLockHolder(unsigned seconds) : m_process(nullptr), m_processId(0), m_holding(false)
{
    // The holder's output goes to a file: it outlives a pipe's reader here.
    wchar_t temp[MAX_PATH] = {}, name[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"hl", 0, name);
    m_output = name;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE out = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + BinPath(L"devsim.exe") + L"\" hold-install-lock " + std::to_wstring(seconds);
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(0);
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    if (!started)
        return;
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    m_processId = pi.dwProcessId;
    // Bounded: the holder says so at once unless the mutex is busy.
    for (int i = 0; i < 600 && !m_holding; ++i) {
        m_holding = ReadBytes(m_output).find("holding the install lock") != std::string::npos;
        if (!m_holding && WaitForSingleObject(m_process, 50) == WAIT_OBJECT_0)
            break;
    }
}

DWORD CInstallLockHolder::Wait()
{
    DWORD code = 0xFFFFFFFF;
    if (m_process == nullptr)
        return code;
    WaitForSingleObject(m_process, 120000);
    GetExitCodeProcess(m_process, &code);
    return code;
}

CInstallLockHolder::~CInstallLockHolder()
{
    if (m_process != nullptr) {
        if (WaitForSingleObject(m_process, 120000) != WAIT_OBJECT_0)
            TerminateProcess(m_process, 0xDEAD);
        CloseHandle(m_process);
    }
    if (!m_output.empty())
        DeleteFileW(m_output.c_str());
}

std::string ListDevices()
{
    return RunDevsim(L"list").output;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        lines.push_back(current);
    return lines;
}

std::string MaskTimes(const std::string& text)
{
    static const std::regex time("\\[[0-9]{1,2}:[0-9]{2}:[0-9]{2}\\]");
    return std::regex_replace(text, time, "[T]");
}

namespace {

BY_HANDLE_FILE_INFORMATION g_foreignOwned;

bool ReadOwnerSeeingForeign(HANDLE handle, std::vector<BYTE>& sid)
{
    std::vector<BYTE> selfStorage;
    PSID owner = ProcessUserSid(selfStorage);
    PSID user = nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) && info.dwVolumeSerialNumber == g_foreignOwned.dwVolumeSerialNumber &&
        info.nFileIndexLow == g_foreignOwned.nFileIndexLow && info.nFileIndexHigh == g_foreignOwned.nFileIndexHigh &&
        ConvertStringSidToSidW(L"S-1-5-21-1-2-3-1001", &user))
        owner = user;
    if (owner == nullptr)
        return false;
    const BYTE* bytes = static_cast<const BYTE*>(owner);
    sid.assign(bytes, bytes + GetLengthSid(owner));
    LocalFree(user);
    return true;
}

} // namespace

CForeignOwnerScope::CForeignOwnerScope(const std::wstring& path) : m_previous(nullptr), m_valid(false)
{
    HANDLE object = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (object == INVALID_HANDLE_VALUE)
        return;
    m_valid = GetFileInformationByHandle(object, &g_foreignOwned) != FALSE;
    CloseHandle(object);
    if (m_valid)
        m_previous = reinterpret_cast<void*>(SetOwnerReaderForTest(ReadOwnerSeeingForeign));
}

CForeignOwnerScope::~CForeignOwnerScope()
{
    if (m_valid)
        SetOwnerReaderForTest(reinterpret_cast<PFN_READ_OWNER>(m_previous));
}

} // namespace zoltest
