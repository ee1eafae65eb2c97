#include "support/changepoint.h"
#include "support/trustedfolder.h"

#include "support/errortext.h"
#include "support/handles.h"
#include "support/wformat.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

namespace {

// Full control for SYSTEM and Administrators, inherited by everything
// created inside, nothing inherited from above; owner Administrators.
const wchar_t kProtectedFolder[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The same without the owner, for an account that may not name
// Administrators as the owner of what it creates.
const wchar_t kProtectedFolderAnyOwner[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Rights that let an account change a folder or what is inside it.
const ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                  FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                  GENERIC_ALL;

// Renames, rounds of a folder's check and names tried per move aside.
const int kRounds = 3;
const int kAsideNames = 5;

PFN_READ_OWNER g_ownerReader = nullptr;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

bool IsTrustedAccount(PSID sid, PSID self)
{
    if (sid == nullptr || !IsValidSid(sid))
        return false;
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
           (self != nullptr && EqualSid(sid, self));
}

std::wstring WithoutTrailingSeparators(const std::wstring& path)
{
    std::wstring clean = path;
    while (clean.size() > 3 && (clean.back() == L'\\' || clean.back() == L'/'))
        clean.pop_back();
    return clean;
}

// The attributes of the path itself and of its directory entry.
DWORD PathAttributes(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = 0;
    WIN32_FIND_DATAW entry;
    CUniqueFind find(FindFirstFileW(path.c_str(), &entry));
    if (find)
        attributes |= entry.dwFileAttributes;
    return attributes;
}

HANDLE OpenWithoutFollowing(const std::wstring& path, ACCESS_MASK access,
                            DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
{
    return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A path in the one spelling its handle's name is compared with: full,
// long names where the object exists, backslashes only.
std::wstring ComparablePath(const std::wstring& path)
{
    std::wstring full = path;
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed != 0) {
        std::vector<wchar_t> buffer(needed + 1);
        DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length != 0 && length < buffer.size())
            full.assign(buffer.data(), length);
    }
    // The long form is looked up level by level in each folder's listing,
    // which costs more than everything else here. Only a path with a short
    // name in it needs it: the short names the file system makes for longer
    // ones all hold a '~', and only an administrator can give a file another.
    needed = full.find(L'~') == std::wstring::npos ? 0 : GetLongPathNameW(full.c_str(), nullptr, 0);
    if (needed != 0) {
        std::vector<wchar_t> buffer(needed + 1);
        DWORD length = GetLongPathNameW(full.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0 && length < buffer.size())
            full.assign(buffer.data(), length);
    }
    for (wchar_t& c : full) {
        if (c == L'/')
            c = L'\\';
    }
    return full;
}

// The attributes, and with links the link count, of what handle holds.
// GetFileInformationByHandle would ask the volume for its serial number as
// well, which on some platforms is a round trip to another process.
bool ReadFileFacts(HANDLE handle, DWORD* attributes, DWORD* links)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)))
        return false;
    *attributes = basic.FileAttributes;
    if (links != nullptr) {
        FILE_STANDARD_INFO standard;
        if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard)))
            return false;
        *links = standard.NumberOfLinks;
    }
    return true;
}

bool SameObject(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

// What is at path now; handle keeps the object open, and sd and owner own
// the owner and list that facts point into.
void GatherFacts(const std::wstring& path, FOLDERFACTS& facts, CUniqueFile& handle, CUniqueLocal& sd,
                 std::vector<BYTE>& owner)
{
    facts = FOLDERFACTS();
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return;
    }
    facts.exists = true;
    facts.pathAttributes = PathAttributes(path);
    handle.reset(OpenWithoutFollowing(path, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE));
    if (!handle)
        return;
    DWORD attributes = 0;
    if (ReadFileFacts(handle.get(), &attributes, nullptr))
        facts.handleAttributes = attributes;
    // A handle that holds something else than the path's own object went
    // through a link the platform would not open as the link.
    if (!HandleIsAt(handle.get(), path))
        facts.pathAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &facts.dacl,
                        nullptr, &descriptor) == ERROR_SUCCESS && ReadOwnerSid(handle.get(), owner)) {
        sd.reset(descriptor);
        facts.owner = owner.data();
        facts.daclRead = true;
    } else {
        LocalFree(descriptor);
        facts.owner = nullptr;
        facts.dacl = nullptr;
    }
}

// Why a verdict other than trusted was given, in words.
std::wstring VerdictReason(const FOLDERFACTS& facts, FolderVerdict verdict)
{
    if (verdict == FOLDER_MISSING)
        return L"does not exist";
    if (verdict == FOLDER_PROTECT)
        return L"has an access list that lets other accounts change it";
    if ((facts.pathAttributes | facts.handleAttributes) & FILE_ATTRIBUTE_REPARSE_POINT)
        return L"is a link (reparse point)";
    if (!(facts.pathAttributes & FILE_ATTRIBUTE_DIRECTORY) || !(facts.handleAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return L"is not a folder";
    if (!facts.daclRead)
        return L"has an owner or access list that cannot be read";
    return L"is owned by an account other than SYSTEM, Administrators or this one";
}

bool ProtectedDescriptor(bool withOwner, CUniqueLocal& sd)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(withOwner ? kProtectedFolder : kProtectedFolderAnyOwner,
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    sd.reset(descriptor);
    return true;
}

bool CreateProtectedFolder(const std::wstring& path)
{
    for (bool withOwner : {true, false}) {
        CUniqueLocal sd;
        if (!ProtectedDescriptor(withOwner, sd))
            return false;
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd.get(), FALSE};
        if ((ZOL_CHANGE_POINT("CreateDirectoryW", path.c_str()), CreateDirectoryW(path.c_str(), &attributes)))
            return true;
        if (GetLastError() != ERROR_INVALID_OWNER)
            return false;
    }
    return false;
}

} // namespace

bool IsTrustedOwner(PSID owner, PSID self) { return IsTrustedAccount(owner, self); }

PFN_READ_OWNER SetOwnerReaderForTest(PFN_READ_OWNER reader)
{
    PFN_READ_OWNER previous = g_ownerReader;
    g_ownerReader = reader;
    return previous;
}

bool ReadOwnerSid(HANDLE handle, std::vector<BYTE>& sid)
{
    sid.clear();
    if (g_ownerReader != nullptr)
        return g_ownerReader(handle, sid);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    CUniqueLocal sd(descriptor);
    if (owner == nullptr || !IsValidSid(owner))
        return false;
    const BYTE* bytes = static_cast<const BYTE*>(owner);
    sid.assign(bytes, bytes + GetLengthSid(owner));
    return true;
}

bool HasTrustedOwner(HANDLE handle)
{
    std::vector<BYTE> owner, selfStorage;
    return ReadOwnerSid(handle, owner) && IsTrustedAccount(owner.data(), ProcessUserSid(selfStorage));
}

bool HandleIsAt(HANDLE handle, const std::wstring& path)
{
    // The name is the path below the volume's root ("\dir\file").
    std::vector<BYTE> buffer(sizeof(FILE_NAME_INFO) + 2 * MAX_PATH * sizeof(wchar_t));
    FILE_NAME_INFO* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    while (!GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(buffer.size()))) {
        if (GetLastError() != ERROR_MORE_DATA || buffer.size() > 0x10000)
            return false;
        buffer.resize(buffer.size() * 2);
        info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    }
    std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
    std::wstring expected = ComparablePath(path);
    // Only a path on a drive letter is compared; the routines here name
    // nothing else.
    if (expected.size() < 2 || expected[1] != L':')
        return true;
    expected.erase(0, 2);
    while (expected.size() > 1 && expected.back() == L'\\')
        expected.pop_back();
    while (name.size() > 1 && name.back() == L'\\')
        name.pop_back();
    return CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

bool RenameOpenFile(HANDLE handle, const std::wstring& newPath)
{
    const size_t nameBytes = newPath.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(info->FileName, newPath.c_str(), nameBytes);
    return (ZOL_CHANGE_POINT("SetFileInformationByHandle(rename)", nullptr),
            SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) != FALSE;
}

bool DeleteOpenFile(HANDLE handle)
{
    FILE_DISPOSITION_INFO info = {TRUE};
    return (ZOL_CHANGE_POINT("SetFileInformationByHandle(delete)", nullptr),
            SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof(info))) != FALSE;
}


bool AclLetsOthersChange(PACL dacl, PSID self)
{
    if (dacl == nullptr)
        return true;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return true;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_AUDIT_ACE_TYPE ||
            header->AceType == SYSTEM_ALARM_ACE_TYPE || header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
            header->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE)
            continue;
        // Allowing entries of another layout cannot be read here: they count
        // as letting others in.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            return true;
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kChangeRights) != 0 && !IsTrustedAccount(sid, self))
            return true;
    }
    return false;
}

FolderVerdict JudgeFolder(const FOLDERFACTS& facts, PSID self)
{
    if (!facts.exists)
        return FOLDER_MISSING;
    // A link is judged by what the path shows as well as by the handle:
    // some platforms report a link from the path alone.
    if ((facts.pathAttributes | facts.handleAttributes) & FILE_ATTRIBUTE_REPARSE_POINT)
        return FOLDER_MOVE_ASIDE;
    if (!(facts.pathAttributes & FILE_ATTRIBUTE_DIRECTORY) || !(facts.handleAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FOLDER_MOVE_ASIDE;
    // An owner can always give itself rights back.
    if (!facts.daclRead || !IsTrustedOwner(facts.owner, self))
        return FOLDER_MOVE_ASIDE;
    return AclLetsOthersChange(facts.dacl, self) ? FOLDER_PROTECT : FOLDER_TRUSTED;
}

PSID ProcessUserSid(std::vector<BYTE>& storage)
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return nullptr;
    CUniqueFile token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return nullptr;
    storage.assign(size, 0);
    if (!GetTokenInformation(token.get(), TokenUser, storage.data(), size, &size))
        return nullptr;
    return reinterpret_cast<TOKEN_USER*>(storage.data())->User.Sid;
}

std::wstring UntrustedName(const std::wstring& path)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    // The time alone could be guessed and the name taken first, so that the
    // move fails; the random part cannot.
    ULONG random = 0;
    if (!RtlGenRandom(&random, sizeof(random)))
        random = GetTickCount() ^ (GetCurrentProcessId() << 16);
    return FormatWide(L"%s.untrusted-%04u%02u%02uT%02u%02u%02u-%08lx", WithoutTrailingSeparators(path).c_str(),
                      now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                      static_cast<unsigned long>(random));
}

bool MoveAside(const std::wstring& path, std::wstring* newPath)
{
    const std::wstring clean = WithoutTrailingSeparators(path);
    const DWORD pathAttributes = PathAttributes(clean);
    CUniqueFile handle(OpenWithoutFollowing(clean, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE));
    if (!handle)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle.get(), &info))
        return false;
    // A handle that does not show the link the path shows, or that has
    // another name than the path, holds what a link points to: renaming it
    // would move that instead.
    if ((pathAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    if (!HandleIsAt(handle.get(), clean))
        return false;
    for (int attempt = 1; attempt <= kAsideNames; ++attempt) {
        std::wstring target = UntrustedName(clean);
        if (RenameOpenFile(handle.get(), target)) {
            if (newPath)
                *newPath = target;
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

namespace {

// " error 0x... text" for the thread's last error, or nothing when it has none.
std::wstring LastErrorText()
{
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? std::wstring() : L": error " + std::wstring(DescribeError(error).GetString());
}

// MakeTrustedFolder, saying in why what could not be done.
bool MakeTrustedFolderSaying(const std::wstring& path, std::vector<std::wstring>* changes, std::wstring* why)
{
    const std::wstring clean = WithoutTrailingSeparators(path);
    std::vector<BYTE> selfStorage;
    PSID self = ProcessUserSid(selfStorage);
    for (int round = 0; round < kRounds; ++round) {
        FOLDERFACTS facts;
        CUniqueFile handle;
        CUniqueLocal sd;
        std::vector<BYTE> owner;
        GatherFacts(clean, facts, handle, sd, owner);
        const FolderVerdict verdict = JudgeFolder(facts, self);
        switch (verdict) {
        case FOLDER_TRUSTED:
            return true;
        case FOLDER_MISSING:
            // Another process may create it first: it is judged again.
            if (!CreateProtectedFolder(clean) && GetLastError() != ERROR_ALREADY_EXISTS) {
                *why = clean + L" cannot be created" + LastErrorText();
                return false;
            }
            break;
        case FOLDER_MOVE_ASIDE:
        case FOLDER_PROTECT: {
            // A folder others could change may hold what they put there
            // (folders they own, files they keep open): none of it is kept.
            handle.reset();
            std::wstring aside;
            SetLastError(ERROR_SUCCESS);
            if (!MoveAside(clean, &aside)) {
                *why = clean + L" " + VerdictReason(facts, verdict) + L" and cannot be moved aside" + LastErrorText();
                return false;
            }
            if (changes)
                changes->push_back(FormatWide(L"Untrusted folder moved aside: %s -> %s", clean.c_str(), aside.c_str()));
            break;
        }
        }
    }
    *why = clean + L" keeps being replaced";
    return false;
}

} // namespace

bool MakeTrustedFolder(const std::wstring& path, std::vector<std::wstring>* changes)
{
    std::wstring why;
    return MakeTrustedFolderSaying(path, changes, &why);
}

bool MakeTrustedFolderPath(const std::wstring& path, std::vector<std::wstring>* changes, std::wstring* why)
{
    std::wstring reason;
    if (why == nullptr)
        why = &reason;
    // Only a folder below a drive root: "X:\..." .
    if (path.size() < 4 || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) {
        *why = path + L" is not a folder below a drive's root";
        return false;
    }
    const std::wstring clean = WithoutTrailingSeparators(path);
    size_t pos = 3;
    while (pos <= clean.size()) {
        size_t next = clean.find_first_of(L"\\/", pos);
        if (next == std::wstring::npos)
            next = clean.size();
        const std::wstring part = clean.substr(pos, next - pos);
        if (part.empty() || part == L"." || part == L"..") {
            *why = path + L" is not a folder below a drive's root";
            return false;
        }
        if (!MakeTrustedFolderSaying(clean.substr(0, next), changes, why))
            return false;
        pos = next + 1;
    }
    return true;
}

bool IsLinkedFile(HANDLE file, const std::wstring& path)
{
    DWORD attributes = 0, links = 0;
    if (!ReadFileFacts(file, &attributes, &links))
        return true;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || links > 1)
        return true;
    return (PathAttributes(path) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !HandleIsAt(file, path);
}

FolderVerdict JudgeFolderAt(const std::wstring& path, std::wstring* why, CUniqueFile* pinned)
{
    const std::wstring clean = WithoutTrailingSeparators(path);
    std::vector<BYTE> selfStorage;
    PSID self = ProcessUserSid(selfStorage);
    FOLDERFACTS facts;
    CUniqueFile handle;
    CUniqueLocal sd;
    std::vector<BYTE> owner;
    GatherFacts(clean, facts, handle, sd, owner);
    FolderVerdict verdict = JudgeFolder(facts, self);
    if (verdict == FOLDER_TRUSTED && pinned != nullptr) {
        // Without delete sharing no one can rename the folder or put another
        // one in its place while it is pinned.
        pinned->reset(OpenWithoutFollowing(clean, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE));
        if (!pinned->valid() || !SameObject(pinned->get(), handle.get())) {
            pinned->reset();
            facts.daclRead = false;
            verdict = FOLDER_MOVE_ASIDE;
        }
    }
    if (why != nullptr)
        *why = verdict == FOLDER_TRUSTED ? std::wstring() : VerdictReason(facts, verdict);
    return verdict;
}

namespace {

// A system folder's path as the platform names it, into folders.
void AddFolder(std::vector<std::wstring>& folders, const wchar_t* path)
{
    if (path != nullptr && path[0] != L'\0')
        folders.push_back(WithoutTrailingSeparators(path));
}

std::vector<std::wstring> SystemFolders()
{
    std::vector<std::wstring> folders;
    wchar_t buffer[MAX_PATH] = {};
    UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (length != 0 && length < MAX_PATH)
        AddFolder(folders, buffer);
    // Where the system keeps the Program Files folders' names (the
    // environment variables of the same names are the caller's to change).
    for (const wchar_t* value : {L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"ProgramW6432Dir"}) {
        DWORD bytes = sizeof(buffer);
        buffer[0] = L'\0';
        if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", value,
                         RRF_RT_REG_SZ, nullptr, buffer, &bytes) == ERROR_SUCCESS)
            AddFolder(folders, buffer);
    }
    return folders;
}

} // namespace

bool IsInSystemFolder(const std::wstring& path)
{
    const std::wstring clean = WithoutTrailingSeparators(ComparablePath(path));
    for (const std::wstring& folder : SystemFolders()) {
        const std::wstring base = WithoutTrailingSeparators(ComparablePath(folder));
        if (clean.size() < base.size() ||
            CompareStringOrdinal(clean.c_str(), static_cast<int>(base.size()), base.c_str(),
                                 static_cast<int>(base.size()), TRUE) != CSTR_EQUAL)
            continue;
        if (clean.size() == base.size() || clean[base.size()] == L'\\')
            return true;
    }
    return false;
}

bool PrepareDestinationFolder(const std::wstring& folder, bool create, std::wstring* why)
{
    if (why != nullptr)
        why->clear();
    if (IsInSystemFolder(folder))
        return true;
    const std::wstring clean = WithoutTrailingSeparators(ComparablePath(folder));
    if (clean.size() < 3 || clean[1] != L':' || clean[2] != L'\\') {
        if (why != nullptr)
            *why = FormatWide(L"Destination folder not trusted: %s is not a folder on a drive", folder.c_str());
        return false;
    }
    // Every level below the root in turn; the root only when it is the
    // destination itself (it cannot be a link, and users may create
    // folders there).
    std::vector<std::wstring> levels;
    for (size_t pos = clean.find(L'\\', 3); pos != std::wstring::npos; pos = clean.find(L'\\', pos + 1))
        levels.push_back(clean.substr(0, pos));
    levels.push_back(clean);
    for (const std::wstring& level : levels) {
        std::wstring reason;
        FolderVerdict verdict = JudgeFolderAt(level, &reason);
        if (verdict == FOLDER_TRUSTED)
            continue;
        if (verdict == FOLDER_MISSING) {
            if (!create)
                return true; // nothing below it to act on
            if (CreateProtectedFolder(level) || GetLastError() == ERROR_ALREADY_EXISTS) {
                // Whatever stands there now is judged like any other level.
                verdict = JudgeFolderAt(level, &reason);
                if (verdict == FOLDER_TRUSTED)
                    continue;
            } else {
                if (why != nullptr)
                    *why = FormatWide(L"Destination folder cannot be created: %s, error %lu", level.c_str(),
                                      static_cast<unsigned long>(GetLastError()));
                return false;
            }
        }
        if (why != nullptr)
            *why = FormatWide(L"Destination folder not trusted: %s %s", level.c_str(), reason.c_str());
        return false;
    }
    return true;
}
