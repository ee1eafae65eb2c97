#include "log/cmplog.h"

#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/errortext.h"
#include "support/folderpath.h"
#include "support/handles.h"
#include "support/systemlibrary.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const wchar_t kDefaultDirectory[] = L"%systemdrive%\\devavoror\\log\\";
const wchar_t kMainLogName[] = L"zolsetup.log";
const wchar_t kRule[] = L"===========================================================================";

const wchar_t* SeverityTag(int severity)
{
    switch (severity) {
    case SEV_WARNING: return L"**WARNING** - ";
    case SEV_ERROR: return L"**ERROR** - ";
    case SEV_CRITICAL: return L"**CRITICAL** - ";
    default: return nullptr;
    }
}

const wchar_t* LocationPrefix(int severity)
{
    switch (severity) {
    case SEV_INFO: return L"[%s]::%s[%d] ";
    case SEV_WARNING: return L"[%s]::%s[%d] **WARNING** - ";
    case SEV_ERROR: return L"[%s]::%s[%d] **ERROR** - ";
    case SEV_CRITICAL: return L"[%s]::%s[%d] **CRITICAL** - ";
    default: return nullptr;
    }
}

// Expands environment variables into a buffer of MAX_PATH characters.
// Returns false (and leaves out untouched) when the result needs more.
bool ExpandDirectory(const wchar_t* source, wchar_t (&out)[MAX_PATH])
{
    DWORD needed = ExpandEnvironmentStringsW(source, nullptr, 0);
    if (needed == 0 || needed > MAX_PATH)
        return false;
    wchar_t buffer[MAX_PATH];
    DWORD written = ExpandEnvironmentStringsW(source, buffer, MAX_PATH);
    if (written == 0 || written > MAX_PATH)
        return false;
    wcscpy_s(out, buffer);
    return true;
}

void FileNameAndExtension(const wchar_t* path, wchar_t* out, size_t cch)
{
    wchar_t name[_MAX_FNAME] = {}, ext[_MAX_EXT] = {};
    if (path == nullptr || _wsplitpath_s(path, nullptr, 0, nullptr, 0, name, _MAX_FNAME, ext, _MAX_EXT) != 0) {
        CopyTruncate(out, cch, L"");
        return;
    }
    FormatWideBuffer(out, cch, L"%s%s", name, ext);
}

// Whether a directory is the shared log folder "%systemdrive%\devavoror\log\"
// (in any letter case, with or without the trailing separator).
bool IsDefaultDirectory(const wchar_t* directory)
{
    wchar_t expanded[MAX_PATH];
    if (!ExpandDirectory(kDefaultDirectory, expanded))
        return false;
    std::wstring a(directory), b(expanded);
    while (!a.empty() && (a.back() == L'\\' || a.back() == L'/'))
        a.pop_back();
    while (!b.empty() && b.back() == L'\\')
        b.pop_back();
    return EqualsAsciiNoCase(a.c_str(), b.c_str());
}

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Opens a log file for a rename or a delete: only a real file with one name
// and, when expected is given, still the file the log had open.
HANDLE OpenForChange(const wchar_t* path, const BY_HANDLE_FILE_INFORMATION* expected)
{
    CUniqueFile file((ZOL_CHANGE_POINT("CreateFileW(log, for a move)", path),
                      CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info) || IsLinkedFile(file.get(), path))
        return INVALID_HANDLE_VALUE;
    if (expected && !SameIdentity(info, *expected))
        return INVALID_HANDLE_VALUE;
    return file.release();
}

bool PathExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Whether two open handles refer to one file (two spellings of one path, such
// as names that differ only in letter case).
bool SameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) && SameIdentity(ia, ib);
}

// How long a writer waits in all for the append lock of one piece of text,
// and the longest pause between two tries.
const ULONGLONG kLockWaitMs = 10000;
const DWORD kLockPauseMs = 50;

// Handles whose last wait for the lock ran out: its holder may keep it for
// good, so later pieces try once and go on instead of waiting again.
SRWLOCK g_stalledLock = SRWLOCK_INIT;
std::vector<HANDLE> g_stalled;

bool IsStalled(HANDLE hFile)
{
    AcquireSRWLockShared(&g_stalledLock);
    bool found = std::find(g_stalled.begin(), g_stalled.end(), hFile) != g_stalled.end();
    ReleaseSRWLockShared(&g_stalledLock);
    return found;
}

void SetStalled(HANDLE hFile, bool stalled)
{
    AcquireSRWLockExclusive(&g_stalledLock);
    auto it = std::find(g_stalled.begin(), g_stalled.end(), hFile);
    if (stalled && it == g_stalled.end())
        g_stalled.push_back(hFile);
    else if (!stalled && it != g_stalled.end())
        g_stalled.erase(it);
    ReleaseSRWLockExclusive(&g_stalledLock);
}

// Closes a log handle and forgets it.
void CloseLogHandle(HANDLE& hFile)
{
    if (hFile != INVALID_HANDLE_VALUE && hFile != nullptr) {
        SetStalled(hFile, false);
        CloseHandle(hFile);
    }
    hFile = INVALID_HANDLE_VALUE;
}

// Writers in other processes take the same lock on a byte far past any log
// content, so a move to the end and the write that follows happen as one
// step even where the platform does not make append-only writes atomic.
// Another process can hold the lock as long as it likes: a writer tries
// without waiting, with short pauses, for at most kLockWaitMs, then writes
// without it. The handle appends, so the text still lands at the end.
class CAppendLock
{
public:
    explicit CAppendLock(HANDLE hFile) : m_hFile(hFile), m_range(), m_bLocked(false)
    {
        m_range.Offset = 0xFFFFFFF0u;
        m_range.OffsetHigh = 0x3FFFFFFFu;
        if (TryLock() || GetLastError() != ERROR_LOCK_VIOLATION || IsStalled(m_hFile))
            return;
        const ULONGLONG start = GetTickCount64();
        DWORD pause = 1;
        while (GetTickCount64() - start < kLockWaitMs) {
            Sleep(pause);
            pause = pause * 2 > kLockPauseMs ? kLockPauseMs : pause * 2;
            if (TryLock())
                break;
        }
        SetStalled(m_hFile, !m_bLocked);
    }
    ~CAppendLock()
    {
        if (m_bLocked)
            UnlockFileEx(m_hFile, 0, 1, 0, &m_range);
    }
    CAppendLock(const CAppendLock&) = delete;
    CAppendLock& operator=(const CAppendLock&) = delete;

private:
    bool TryLock()
    {
        m_bLocked = LockFileEx(m_hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &m_range) != FALSE;
        if (m_bLocked)
            SetStalled(m_hFile, false);
        return m_bLocked;
    }

    HANDLE m_hFile;
    OVERLAPPED m_range;
    bool m_bLocked;
};

// The caller holds the append lock. Every log handle is opened for appending
// only (OpenLogFile), so the system places the write at the end of the file
// whatever the handle's file pointer says.
void WriteAtEnd(HANDLE hFile, const char* data, DWORD size)
{
    DWORD written = 0;
    (ZOL_CHANGE_POINT("WriteFile(log)", nullptr), WriteFile(hFile, data, size, &written, nullptr));
}

// Why the last Open of this process left a file unopened.
SRWLOCK g_openFailureLock = SRWLOCK_INIT;
std::wstring g_openFailure;

void SetOpenFailure(const std::wstring& text)
{
    AcquireSRWLockExclusive(&g_openFailureLock);
    g_openFailure = text;
    ReleaseSRWLockExclusive(&g_openFailureLock);
}

} // namespace

std::wstring CCmpLog::GetOpenFailure()
{
    AcquireSRWLockShared(&g_openFailureLock);
    std::wstring text = g_openFailure;
    ReleaseSRWLockShared(&g_openFailureLock);
    return text;
}

CCmpLog::CCmpLog(const wchar_t* fileName, const wchar_t* directory)
    : m_pszStubVersion(L""), m_nError(0), m_bVerbose(0)
{
    LOGFILE record = {};
    record.hFile = INVALID_HANDLE_VALUE;
    if (!ExpandDirectory(kDefaultDirectory, record.szDirectory)) {
        m_nError = LOG_ERR_PATH_TOO_LONG;
        return;
    }
    wcscpy_s(record.szFileName, kMainLogName);
    m_vFiles.push_back(record);

    LOGFILE verbose = {};
    verbose.hFile = INVALID_HANDLE_VALUE;
    const wchar_t* dirTemplate = (directory && *directory) ? directory : kDefaultDirectory;
    if (!ExpandDirectory(dirTemplate, verbose.szDirectory)) {
        m_nError = LOG_ERR_PATH_TOO_LONG;
        return;
    }
    if (fileName && *fileName)
        CopyTruncate(verbose.szFileName, 256, fileName);
    else
        MakeTempLogName(verbose.szFileName, 256);
    m_vFiles.push_back(verbose);
}

CCmpLog::~CCmpLog()
{
    // The files are closed by Close(), not here.
}

void CCmpLog::MakeTempLogName(wchar_t* buffer, size_t cch)
{
    srand(static_cast<unsigned>(time(nullptr)));
    // A unique number of 0 would make the platform create the file; keep it
    // non-zero so that only the name is formed.
    UINT unique = static_cast<UINT>(rand() % 32767) + 1;
    wchar_t temp[MAX_PATH] = {};
    if (GetTempFileNameW(L".", L"_QX", unique, temp) == 0) {
        CopyTruncate(buffer, cch, kMainLogName);
        return;
    }
    wchar_t name[_MAX_FNAME] = {}, ext[_MAX_EXT] = {};
    if (_wsplitpath_s(temp, nullptr, 0, nullptr, 0, name, _MAX_FNAME, ext, _MAX_EXT) != 0) {
        CopyTruncate(buffer, cch, kMainLogName);
        return;
    }
    // ext keeps its dot: name + ext has exactly one dot between them.
    FormatWideBuffer(buffer, cch, L"%s%s", name, ext);
}

void CCmpLog::FormatLocalTime(wchar_t* buffer, size_t cch)
{
    wchar_t time[255] = {};
    if (!GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT, nullptr, nullptr, time, 255))
        time[0] = L'\0';
    FormatWideBuffer(buffer, cch, L"%s", time);
}

void CCmpLog::FormatLocalDateTime(wchar_t* buffer, size_t cch)
{
    wchar_t date[255] = {}, time[255] = {};
    if (!GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 255))
        date[0] = L'\0';
    FormatLocalTime(time, 255);
    FormatWideBuffer(buffer, cch, L"%s %s", date, time);
}

void CCmpLog::CreateDirectoryPath(const wchar_t* directory)
{
    // A failure is not reported here: the file's opening shows whether the
    // path is usable.
    CreateFolderPath(directory);
}

HANDLE CCmpLog::OpenLogFile(const wchar_t* path, std::vector<std::wstring>* changes)
{
    // Append-only write access: the system places every write at the end of
    // the file as one operation, so the host's log, the component's log and
    // other installers appending to the same file at once never overwrite
    // each other's lines. A link is opened as the link, so that it can be
    // recognised: it is moved aside, like a file with a second name that
    // would carry the lines elsewhere, and a new file started. So is a file
    // another account owns: it could read, change or delete what is logged.
    for (int round = 0; round < 2; ++round) {
        CUniqueFile file(
            (ZOL_CHANGE_POINT("CreateFileW(log)", path),
             CreateFileW(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
        if (!file)
            return INVALID_HANDLE_VALUE;
        if (!IsLinkedFile(file.get(), path) && HasTrustedOwner(file.get()))
            return file.release();
        file.reset();
        std::wstring aside;
        if (!MoveAside(path, &aside))
            break;
        if (changes)
            changes->push_back(FormatWide(L"Untrusted log file moved aside: %s -> %s", path, aside.c_str()));
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

bool CCmpLog::OpenRecord(LOGFILE& record, std::vector<std::wstring>* changes)
{
    // Opening again replaces the handle of an earlier Open.
    if (record.bOpen)
        CloseLogHandle(record.hFile);
    record.hFile = INVALID_HANDLE_VALUE;
    wchar_t path[MAX_PATH];
    if (!FormatWideBuffer(path, MAX_PATH, L"%s%s", record.szDirectory, record.szFileName))
        return false;
    if (IsDefaultDirectory(record.szDirectory)) {
        // The shared log folder below the drive root is used only once no
        // one but the administrators can change it.
        std::wstring why;
        if (!MakeTrustedFolderPath(record.szDirectory, changes, &why)) {
            SetOpenFailure(L"the log folder cannot be made one only administrators can change: " + why);
            return false;
        }
        record.hFile = OpenLogFile(path, changes);
    } else {
        // The folders are created only when they are missing: on every later
        // run the file opens at the first attempt.
        record.hFile = OpenLogFile(path, changes);
        if (record.hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
            CreateDirectoryPath(record.szDirectory);
            record.hFile = OpenLogFile(path, changes);
        }
    }
    if (record.hFile == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        SetOpenFailure(FormatWide(L"the log file %s cannot be opened: error %s", path, DescribeError(error).GetString()));
        return false;
    }
    record.bOpen = 1;
    // A session starts on a line of its own even when the last writer ended
    // in the middle of one (a process killed between a step and its answer).
    EndUnfinishedLine(record.hFile);
    return true;
}

void CCmpLog::WriteChanges(const std::vector<std::wstring>& changes)
{
    for (const std::wstring& change : changes)
        WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", change.c_str());
}

int CCmpLog::Open()
{
    // A folder or file that had to be moved aside or protected is named in
    // the main log once it is open.
    std::vector<std::wstring> changes;
    SetOpenFailure(std::wstring());
    if (m_bVerbose && m_vFiles.size() > 1 && !OpenRecord(m_vFiles[1], &changes))
        return LOG_ERR_OPEN;
    if (!m_vFiles.empty() && !OpenRecord(m_vFiles[0], &changes))
        return LOG_ERR_OPEN;
    WriteChanges(changes);
    return 0;
}

int CCmpLog::Close()
{
    bool ok = true;
    auto closeRecord = [&ok](LOGFILE& r) {
        if (r.bOpen && r.hFile != INVALID_HANDLE_VALUE && r.hFile != nullptr) {
            SetStalled(r.hFile, false);
            if (!CloseHandle(r.hFile))
                ok = false;
        }
        // Mark the record closed so that a later write cannot reach a handle
        // value the process may have reused.
        r.hFile = INVALID_HANDLE_VALUE;
        r.bOpen = 0;
    };
    if (m_vFiles.size() > 1 && m_bVerbose)
        closeRecord(m_vFiles[1]);
    if (!m_vFiles.empty())
        closeRecord(m_vFiles[0]);
    return ok ? 0 : LOG_ERR_CLOSE;
}

void CCmpLog::AppendText(HANDLE hFile, const std::wstring& text)
{
    AppendText(hFile, text.c_str(), text.size());
}

void CCmpLog::AppendText(HANDLE hFile, const wchar_t* text, size_t count)
{
    if (hFile == INVALID_HANDLE_VALUE || hFile == nullptr || text == nullptr || count == 0 || count > INT_MAX)
        return;
    // A line converts in one call into a buffer on the stack; only a text
    // that may need more room asks for its size first.
    char local[2048];
    const int length = static_cast<int>(count);
    if (count <= sizeof(local) / 3) {
        int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, local, sizeof(local), nullptr, nullptr);
        if (bytes > 0)
            AppendBytes(hFile, local, static_cast<DWORD>(bytes));
        if (bytes > 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return;
    }
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::vector<char> narrow(static_cast<size_t>(bytes) + 1);
    WideCharToMultiByte(CP_ACP, 0, text, length, narrow.data(), bytes, nullptr, nullptr);
    AppendBytes(hFile, narrow.data(), static_cast<DWORD>(bytes));
}

void CCmpLog::AppendBytes(HANDLE hFile, const char* data, DWORD size)
{
    if (hFile == INVALID_HANDLE_VALUE || hFile == nullptr || size == 0)
        return;
    CAppendLock lock(hFile);
    WriteAtEnd(hFile, data, size);
}

void CCmpLog::EndUnfinishedLine(HANDLE hFile)
{
    if (hFile == INVALID_HANDLE_VALUE || hFile == nullptr)
        return;
    // Looked at and completed under the writers' lock, so that no other
    // writer's line can slip in between.
    CAppendLock lock(hFile);
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(hFile, &size) || size.QuadPart == 0)
        return;
    char tail[2] = {};
    DWORD read = 0;
    LONGLONG from = size.QuadPart >= 2 ? size.QuadPart - 2 : 0;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    if (!ReadFile(hFile, tail, sizeof(tail), &read, &at))
        return; // cannot tell: leave the file as it is
    if (read == 2 && tail[0] == '\r' && tail[1] == '\n')
        return;
    WriteAtEnd(hFile, "\r\n", 2);
}

void CCmpLog::AppendFormatted(HANDLE hFile, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(format, args);
    va_end(args);
    AppendText(hFile, text);
}

int CCmpLog::WriteLine(int target, int severity, const wchar_t* source, int line, const wchar_t* format, ...)
{
    const bool toMain =
        (target == LOG_MAIN || target == LOG_BOTH || target == LOG_BOTH_CONT) && !m_vFiles.empty() && m_vFiles[0].bOpen;
    const bool toVerbose =
        target >= LOG_VERBOSE && target <= LOG_BOTH_CONT && m_bVerbose && m_vFiles.size() > 1 && m_vFiles[1].bOpen;
    // A line no file takes costs nothing: no time, no formatting.
    if (!toMain && !toVerbose)
        return 1;

    // The message is formatted once and written to each file that takes it.
    va_list args;
    va_start(args, format);
    const std::wstring message = FormatWideV(format, args);
    va_end(args);
    if (message.empty())
        return 1;

    // The tag or prefix and the message of one call reach each file in one
    // write, so that writers sharing a file cannot split them apart.
    if (toMain) {
        const wchar_t* tag = SeverityTag(severity);
        if (tag)
            AppendText(m_vFiles[0].hFile, std::wstring(tag) + message);
        else
            AppendText(m_vFiles[0].hFile, message);
    }

    if (toVerbose) {
        std::wstring lead;
        if (target == LOG_VERBOSE || target == LOG_BOTH) {
            if (const wchar_t* prefix = LocationPrefix(severity)) {
                wchar_t time[255];
                FormatLocalTime(time, 255);
                wchar_t sourceName[MAX_PATH] = {};
                if (source)
                    FileNameAndExtension(source, sourceName, MAX_PATH);
                lead = FormatWide(prefix, time, sourceName, line);
            }
        } else if (const wchar_t* tag = SeverityTag(severity)) {
            lead = tag;
        }
        if (lead.empty())
            AppendText(m_vFiles[1].hFile, message);
        else
            AppendText(m_vFiles[1].hFile, lead + message);
    }
    return 1;
}

namespace {

void GetHostFileName(wchar_t* buffer, size_t cch)
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    FileNameAndExtension(module, buffer, cch);
}

int GetHostFileVersion(wchar_t* buffer, size_t cch)
{
    if (cch < 10)
        return 0;
    wchar_t module[MAX_PATH] = {};
    if (!GetModuleFileNameW(nullptr, module, MAX_PATH))
        return 0;
    std::vector<BYTE> data;
    const VS_FIXEDFILEINFO* info = ReadVersionResource(module, data) ? FixedVersionInfo(data) : nullptr;
    if (info == nullptr)
        return 0;
    FormatWideBuffer(buffer, cch, L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                     HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return 1;
}

} // namespace

void CCmpLog::WriteHeader()
{
    wchar_t dateTime[255], host[MAX_PATH], version[32];
    FormatLocalDateTime(dateTime, 255);
    GetHostFileName(host, MAX_PATH);
    // An executable without a version resource shows an empty version.
    if (!GetHostFileVersion(version, 32))
        version[0] = L'\0';

    if (m_bVerbose && m_vFiles.size() > 1 && m_vFiles[1].bOpen)
        AppendFormatted(m_vFiles[1].hFile,
                        L"%s\r\nSource:          %s\r\nVersion:         %s\r\nStub Version:    %s\r\n"
                        L"Log Date:        %s\r\n\r\nVerbose Log Session Start ...\r\n\r\n",
                        kRule, host, version, m_pszStubVersion ? m_pszStubVersion : L"", dateTime);
    if (!m_vFiles.empty() && m_vFiles[0].bOpen)
        AppendFormatted(m_vFiles[0].hFile,
                        L"%s\r\nSource:          %s\r\nVersion:         %s\r\nLog Date:        %s\r\n\r\n"
                        L"Log Session Start...\r\n\r\n",
                        kRule, host, version, dateTime);
}

void CCmpLog::WriteFooter(int returnCode)
{
    wchar_t time[255];
    FormatLocalTime(time, 255);
    const wchar_t* format = L"\r\n\r\nLog Session End. [%s]\r\nReturn Code (%d)\r\n%s\r\n\r\n";
    if (m_bVerbose && m_vFiles.size() > 1 && m_vFiles[1].bOpen)
        AppendFormatted(m_vFiles[1].hFile, format, time, returnCode, kRule);
    if (!m_vFiles.empty() && m_vFiles[0].bOpen)
        AppendFormatted(m_vFiles[0].hFile, format, time, returnCode, kRule);
}

int CCmpLog::SetVerbose(int verbose)
{
    m_bVerbose = verbose;
    return m_bVerbose;
}

const wchar_t* CCmpLog::GetVerboseLogDir() const
{
    return m_vFiles.size() > 1 ? m_vFiles[1].szDirectory : nullptr;
}

const wchar_t* CCmpLog::GetVerboseLogName() const
{
    return m_vFiles.size() > 1 ? m_vFiles[1].szFileName : nullptr;
}

void CCmpLog::MoveVerboseLog(const wchar_t* newName, const wchar_t* newDirectory)
{
    if (newName == nullptr || *newName == L'\0' || m_vFiles.size() < 2)
        return;
    if (newDirectory == nullptr)
        newDirectory = L"";
    LOGFILE& v = m_vFiles[1];
    if (wcscmp(newName, v.szFileName) == 0 && wcscmp(newDirectory, v.szDirectory) == 0)
        return;

    wchar_t newPath[MAX_PATH], oldPath[MAX_PATH];
    if (!FormatWideBuffer(newPath, MAX_PATH, L"%s%s", newDirectory, newName))
        return;
    if (!FormatWideBuffer(oldPath, MAX_PATH, L"%s%s", v.szDirectory, v.szFileName))
        return;
    if (wcslen(newName) >= 256 || wcslen(newDirectory) >= MAX_PATH)
        return;

    // The old file is renamed or deleted only through a handle on a real
    // file with one name that is still the one the record had open: a link
    // or a second name left in its place never turns the hand-over into a
    // rename or delete elsewhere.
    BY_HANDLE_FILE_INFORMATION own;
    const bool ownKnown = v.bOpen && v.hFile != INVALID_HANDLE_VALUE && GetFileInformationByHandle(v.hFile, &own);
    std::vector<std::wstring> changes;
    // Nothing is created in the shared log folder unless it is trusted.
    if (IsDefaultDirectory(newDirectory)) {
        bool trusted = MakeTrustedFolderPath(newDirectory, &changes);
        WriteChanges(changes);
        changes.clear();
        if (!trusted)
            return;
    }
    if (!PathExists(newPath)) {
        if (v.bOpen)
            CloseLogHandle(v.hFile);
        v.hFile = INVALID_HANDLE_VALUE;
        CUniqueFile old(OpenForChange(oldPath, ownKnown ? &own : nullptr));
        if (old && RenameOpenFile(old.get(), newPath)) {
            wcscpy_s(v.szFileName, newName);
            wcscpy_s(v.szDirectory, newDirectory);
        }
        old.reset();
        v.hFile = OpenLogFile(newPath, &changes);
        WriteChanges(changes);
        return;
    }
    if (!v.bOpen)
        return;

    CUniqueFile target(OpenLogFile(newPath, &changes));
    WriteChanges(changes);
    if (!target)
        return;
    // Merging a file into itself would duplicate every line in it.
    if (SameFile(target.get(), v.hFile))
        return;
    DWORD size = SetFilePointer(v.hFile, 0, nullptr, FILE_END);
    SetFilePointer(v.hFile, 0, nullptr, FILE_BEGIN);
    if (size == INVALID_SET_FILE_POINTER)
        return;
    std::vector<char> content(size ? size : 1);
    DWORD read = 0;
    if (!ReadFile(v.hFile, content.data(), size, &read, nullptr))
        return; // the new handle closes; the record keeps its old file
    if (read == 0)
        return;
    AppendBytes(target.get(), content.data(), read);
    CloseLogHandle(v.hFile);
    CUniqueFile old(OpenForChange(oldPath, ownKnown ? &own : nullptr));
    if (old)
        DeleteOpenFile(old.get());
    v.hFile = target.release();
    wcscpy_s(v.szFileName, newName);
    wcscpy_s(v.szDirectory, newDirectory);
}

void CCmpLog::OpenConsole()
{
    if (!AllocConsole())
        return;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(out, &info)) {
        COORD size = info.dwSize;
        size.Y = 500;
        SetConsoleScreenBufferSize(out, size);
    }
    FILE* stream = nullptr;
    if (_wfreopen_s(&stream, L"CONOUT$", L"w", stdout) == 0)
        setvbuf(stdout, nullptr, _IONBF, 0);
    if (_wfreopen_s(&stream, L"CONIN$", L"r", stdin) == 0)
        setvbuf(stdin, nullptr, _IONBF, 0);
    if (_wfreopen_s(&stream, L"CONOUT$", L"w", stderr) == 0)
        setvbuf(stderr, nullptr, _IONBF, 0);
}

wchar_t* TrimRight(wchar_t* text)
{
    if (text == nullptr)
        return text;
    size_t len = wcslen(text);
    while (len > 0) {
        wchar_t c = text[len - 1];
        if (c != L' ' && c != L'\t' && c != L'\n' && c != L'\r')
            break;
        --len;
    }
    text[len] = L'\0';
    return text;
}
