#include "support/trustedfolder.h"

#include "support/handles.h"
#include "support/wformat.h"

#include <aclapi.h>
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

HANDLE OpenWithoutFollowing(const std::wstring& path, ACCESS_MASK access)
{
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool SameObject(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

// What is at path now; handle keeps the object open and sd owns the owner
// and list that facts point into.
void GatherFacts(const std::wstring& path, FOLDERFACTS& facts, CUniqueFile& handle, CUniqueLocal& sd)
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
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle.get(), &info))
        facts.handleAttributes = info.dwFileAttributes;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &facts.owner, nullptr, &facts.dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
        sd.reset(descriptor);
        facts.daclRead = true;
    } else {
        facts.owner = nullptr;
        facts.dacl = nullptr;
    }
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
        if (CreateDirectoryW(path.c_str(), &attributes))
            return true;
        if (GetLastError() != ERROR_INVALID_OWNER)
            return false;
    }
    return false;
}

// Replaces the access list of the folder that judged is open on, reached
// again by path without following links.
bool ProtectInPlace(const std::wstring& path, HANDLE judged)
{
    CUniqueFile handle(OpenWithoutFollowing(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | SYNCHRONIZE));
    if (!handle || !SameObject(handle.get(), judged))
        return false;
    CUniqueLocal sd;
    if (!ProtectedDescriptor(false, sd))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted) || !present)
        return false;
    return SetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

} // namespace

bool IsTrustedOwner(PSID owner, PSID self) { return IsTrustedAccount(owner, self); }

bool RenameOpenFile(HANDLE handle, const std::wstring& newPath)
{
    const size_t nameBytes = newPath.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(info->FileName, newPath.c_str(), nameBytes);
    return SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

bool DeleteOpenFile(HANDLE handle)
{
    FILE_DISPOSITION_INFO info = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof(info)) != FALSE;
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
    return FormatWide(L"%s.untrusted-%04u%02u%02uT%02u%02u%02u", WithoutTrailingSeparators(path).c_str(), now.wYear,
                      now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
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
    // A handle that does not show the link the path shows holds what the
    // link points to: renaming it would move that instead.
    if ((pathAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const std::wstring base = UntrustedName(clean);
    for (int attempt = 1; attempt <= kAsideNames; ++attempt) {
        std::wstring target = attempt == 1 ? base : FormatWide(L"%s-%d", base.c_str(), attempt);
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

bool MakeTrustedFolder(const std::wstring& path, std::vector<std::wstring>* changes)
{
    const std::wstring clean = WithoutTrailingSeparators(path);
    std::vector<BYTE> selfStorage;
    PSID self = ProcessUserSid(selfStorage);
    for (int round = 0; round < kRounds; ++round) {
        FOLDERFACTS facts;
        CUniqueFile handle;
        CUniqueLocal sd;
        GatherFacts(clean, facts, handle, sd);
        switch (JudgeFolder(facts, self)) {
        case FOLDER_TRUSTED:
            return true;
        case FOLDER_MISSING:
            // Another process may create it first: it is judged again.
            if (!CreateProtectedFolder(clean) && GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
            break;
        case FOLDER_MOVE_ASIDE: {
            handle.reset();
            std::wstring aside;
            if (!MoveAside(clean, &aside))
                return false;
            if (changes)
                changes->push_back(FormatWide(L"Untrusted folder moved aside: %s -> %s", clean.c_str(), aside.c_str()));
            break;
        }
        case FOLDER_PROTECT:
            if (!ProtectInPlace(clean, handle.get()))
                return false;
            if (changes)
                changes->push_back(FormatWide(L"Folder access restricted to administrators: %s", clean.c_str()));
            return true;
        }
    }
    return false;
}

bool MakeTrustedFolderPath(const std::wstring& path, std::vector<std::wstring>* changes)
{
    // Only a folder below a drive root: "X:\..." .
    if (path.size() < 4 || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/'))
        return false;
    const std::wstring clean = WithoutTrailingSeparators(path);
    size_t pos = 3;
    while (pos <= clean.size()) {
        size_t next = clean.find_first_of(L"\\/", pos);
        if (next == std::wstring::npos)
            next = clean.size();
        const std::wstring part = clean.substr(pos, next - pos);
        if (part.empty() || part == L"." || part == L"..")
            return false;
        if (!MakeTrustedFolder(clean.substr(0, next), changes))
            return false;
        pos = next + 1;
    }
    return true;
}

bool IsLinkedFile(HANDLE file, const std::wstring& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return true;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1)
        return true;
    return (PathAttributes(path) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
