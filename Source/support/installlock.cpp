#include "support/changepoint.h"
#include "support/installlock.h"

#include "zolcomp/zolcomp.h"
#include "support/errortext.h"
#include "support/str.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"

#include <sddl.h>

namespace {

DWORD g_installWaitMs = ZOL_INSTALL_WAIT_MS;

// Only the system and administrators may open the lock file this process
// creates; nothing is inherited.
const wchar_t kLockFileAccess[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// The pause between two attempts while another installation holds the lock.
const DWORD kPollMs = 50;

// The holder record at the start of the lock file.
struct LOCKRECORD {
    DWORD processId;
    DWORD threadId;
};
static_assert(sizeof(LOCKRECORD) == ZOL_INSTALL_OWNER_BYTES, "the record fills ZOL_INSTALL_OWNER_BYTES");

bool ReadRecord(HANDLE file, LOCKRECORD& record)
{
    record = LOCKRECORD();
    OVERLAPPED at = {};
    DWORD read = 0;
    if (ReadFile(file, &record, sizeof(record), &read, &at) && read == sizeof(record))
        return true;
    record = LOCKRECORD();
    return false;
}

bool WriteRecord(HANDLE file, const LOCKRECORD& record)
{
    OVERLAPPED at = {};
    DWORD written = 0;
    return (ZOL_CHANGE_POINT("WriteFile(lock)", nullptr), WriteFile(file, &record, sizeof(record), &written, &at)) &&
           written == sizeof(record);
}

// The lock file opened for reading its record and its owner; it shares
// everything, so it never stands in a holder's way.
HANDLE OpenForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A lock file is the administrators' when it is a real file with one name,
// owned by SYSTEM, Administrators or the account this process runs as.
bool IsAdministratorsFile(HANDLE file, const std::wstring& path)
{
    return !IsLinkedFile(file, path) && HasTrustedOwner(file);
}

} // namespace

DWORD GetInstallWaitMs() { return g_installWaitMs; }

DWORD SetInstallWaitMs(DWORD milliseconds)
{
    DWORD previous = g_installWaitMs;
    g_installWaitMs = milliseconds;
    return previous;
}

CStr InstallInProgressText(DWORD ownerProcessId)
{
    if (ownerProcessId == 0)
        return CStr(L"Another installation is in progress.");
    return CStr(FormatWide(L"Another installation is in progress (process ID %lu).",
                           static_cast<unsigned long>(ownerProcessId)).c_str());
}

CStr InstallInProgressText(const CInstallLock& lock)
{
    switch (lock.BusyReason()) {
    case LOCK_BUSY_NOT_ADMINISTRATOR: {
        DWORD owner = lock.ReadOwner();
        std::wstring text = FormatWide(L"The install lock %s is held by a process that is not an administrator's",
                                       CInstallLock::LockPath().c_str());
        text += owner == 0 ? std::wstring(L".")
                           : FormatWide(L": process ID %lu.", static_cast<unsigned long>(owner));
        return CStr(text.c_str());
    }
    case LOCK_BUSY_UNAVAILABLE: {
        std::wstring text = L"The install lock cannot be taken: " + lock.UnavailableText();
        if (text.back() != L'.')
            text += L'.';
        return CStr(text.c_str());
    }
    default:
        return InstallInProgressText(lock.ReadOwner());
    }
}

std::wstring CInstallLock::LockPath()
{
    wchar_t system[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || system[1] != L':')
        return std::wstring();
    return std::wstring(system, 2) + ZOL_INSTALL_LOCK_PATH;
}

CInstallLock::CInstallLock()
    : m_bHeld(false), m_bWroteOwner(false), m_owner(0), m_busy(LOCK_BUSY_NONE)
{
}

CInstallLock::~CInstallLock() { Release(); }

bool CInstallLock::Unavailable(const std::wstring& text)
{
    m_busy = LOCK_BUSY_UNAVAILABLE;
    m_unavailable = text;
    return false;
}

bool CInstallLock::Acquire(DWORD timeoutMs)
{
    if (m_bHeld)
        return true;
    m_busy = LOCK_BUSY_NONE;
    m_unavailable.clear();
    m_path = LockPath();
    if (m_path.empty())
        return Unavailable(L"the system folder cannot be read");
    // The folder is made one only administrators can change first, so that
    // no other account can create or hold the file.
    const std::wstring folder = m_path.substr(0, m_path.rfind(L'\\'));
    std::wstring why;
    if (!MakeTrustedFolderPath(folder, nullptr, &why))
        return Unavailable(L"its folder cannot be made one only administrators can change: " + why);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (TryTake())
            return true;
        // Only an installation lets go in time; nothing else is waited for.
        if (m_busy != LOCK_BUSY_INSTALLATION)
            return false;
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= timeoutMs)
            return false;
        const ULONGLONG left = timeoutMs - elapsed;
        Sleep(left < kPollMs ? static_cast<DWORD>(left) : kPollMs);
    }
}

bool CInstallLock::TryTake(bool mayMoveAside)
{
    CUniqueLocal descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockFileAccess, SDDL_REVISION_1, &raw, nullptr)) {
        descriptor.reset(raw);
        attributes.lpSecurityDescriptor = raw;
    }
    // A file that is not the administrators' is moved aside and the lock
    // made anew, at most once per attempt.
    for (int round = 0; round < 2; ++round) {
        CUniqueFile file((ZOL_CHANGE_POINT("CreateFileW(lock)", m_path.c_str()),
                          CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &attributes,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
        if (!file) {
            DWORD error = GetLastError();
            if (error == ERROR_SHARING_VIOLATION)
                return JudgeHolder(mayMoveAside);
            return Unavailable(FormatWide(L"the file %s cannot be opened: error %s", m_path.c_str(),
                                          DescribeError(error).GetString()));
        }
        if (IsAdministratorsFile(file.get(), m_path)) {
            // The record only names the holder for messages: without it the
            // lock still works.
            LOCKRECORD mine = {GetCurrentProcessId(), GetCurrentThreadId()};
            WriteRecord(file.get(), mine);
            m_file = std::move(file);
            m_owner = mine.processId;
            m_bHeld = true;
            m_bWroteOwner = true;
            return true;
        }
        file.reset();
        if (!MoveAside(m_path, nullptr)) {
            DWORD error = GetLastError();
            return Unavailable(FormatWide(L"the file %s is not the administrators' and cannot be moved aside: error %s",
                                          m_path.c_str(), DescribeError(error).GetString()));
        }
    }
    return Unavailable(FormatWide(L"the file %s keeps being replaced", m_path.c_str()));
}

bool CInstallLock::JudgeHolder(bool mayMoveAside)
{
    CUniqueFile file(OpenForReading(m_path));
    LOCKRECORD record = {};
    if (file)
        ReadRecord(file.get(), record);
    m_owner = record.processId;
    // Held by this thread already (a host around Install): nested.
    if (record.processId == GetCurrentProcessId() && record.threadId == GetCurrentThreadId()) {
        m_bHeld = true;
        m_bWroteOwner = false;
        return true;
    }
    if (file && !IsAdministratorsFile(file.get(), m_path)) {
        // Another account's file, held open by a process of its own: moved
        // aside when its holder lets it, else named for what it is.
        file.reset();
        if (mayMoveAside && MoveAside(m_path, nullptr))
            return TryTake(false);
        m_busy = LOCK_BUSY_NOT_ADMINISTRATOR;
        return false;
    }
    m_busy = LOCK_BUSY_INSTALLATION;
    return false;
}

void CInstallLock::Release()
{
    if (!m_bHeld)
        return;
    // The record is cleared before the lock goes, so that no later reader
    // takes a process that has let go for the holder.
    if (m_bWroteOwner && m_file.valid()) {
        LOCKRECORD none = {};
        WriteRecord(m_file.get(), none);
    }
    m_file.reset();
    m_bWroteOwner = false;
    m_bHeld = false;
}

DWORD CInstallLock::ReadOwner() const
{
    LOCKRECORD record = {};
    if (m_file.valid()) {
        ReadRecord(m_file.get(), record);
        return record.processId;
    }
    CUniqueFile file(OpenForReading(m_path.empty() ? LockPath() : m_path));
    if (file)
        ReadRecord(file.get(), record);
    return record.processId;
}
