// Folders and files at the root of the system drive that the component
// writes as an administrator: any user may create folders there first, keep
// control of them, or leave links in them. These routines make such a folder
// one that only SYSTEM and Administrators can change, and move aside, never
// follow, what cannot be trusted.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What a folder found at a path calls for.
enum FolderVerdict {
    FOLDER_TRUSTED = 0,    // a real folder only trusted accounts can change
    FOLDER_MISSING = 1,    // nothing there: create it protected
    FOLDER_MOVE_ASIDE = 2, // a link, not a folder, or an owner that could take control back
    FOLDER_PROTECT = 3,    // a real folder with a trusted owner that others may change
};

// What is known of the object at a folder's path.
struct FOLDERFACTS {
    bool exists;
    DWORD pathAttributes;   // from the path and its directory entry, combined
    DWORD handleAttributes; // from a handle opened without following links
    PSID owner;             // null when it could not be read
    bool daclRead;          // false when the access list could not be read
    PACL dacl;              // null with daclRead: no list, everyone has full access
};

// The decision alone, on facts gathered elsewhere. self is the account the
// component runs as (trusted like SYSTEM and Administrators).
FolderVerdict JudgeFolder(const FOLDERFACTS& facts, PSID self);
// Whether an allowing entry of the list lets an account other than SYSTEM,
// Administrators or self write, delete, change permissions or take ownership
// (inherit-only entries count: they reach what is created inside).
bool AclLetsOthersChange(PACL dacl, PSID self);
bool IsTrustedOwner(PSID owner, PSID self);

// The account the process runs as, or null.
PSID ProcessUserSid(std::vector<BYTE>& storage);

// "<path>.untrusted-<UTC time as yyyymmddThhmmss>".
std::wstring UntrustedName(const std::wstring& path);

// Renames what is at path (file, folder or link) to UntrustedName(path)
// through a handle that does not follow links. A link is renamed only where
// the handle holds the link itself: where the platform opens what it points
// to instead, nothing is moved and the result is false.
bool MoveAside(const std::wstring& path, std::wstring* newPath);

// Makes path (a folder directly below a folder that is already trusted, or
// below the drive root) trusted: creates it protected, moves aside an
// untrusted one and creates it anew, or protects one in place. Each change
// adds a line (no line end) to changes. False when the folder cannot be
// made trusted.
bool MakeTrustedFolder(const std::wstring& path, std::vector<std::wstring>* changes);
// The same for every level of a folder path below the drive root
// ("C:\a\b" makes "C:\a", then "C:\a\b"); a trailing separator is allowed.
bool MakeTrustedFolderPath(const std::wstring& path, std::vector<std::wstring>* changes);

// Renames the file or folder a handle (opened with DELETE access) holds to
// a full path; never replaces what is there.
bool RenameOpenFile(HANDLE handle, const std::wstring& newPath);
// Deletes the file a handle (opened with DELETE access) holds, when it is
// closed.
bool DeleteOpenFile(HANDLE handle);

// Whether an open file is a reparse point or has more than one name. The
// path's own attributes count too: some platforms open what a link points
// to even when asked not to.
bool IsLinkedFile(HANDLE file, const std::wstring& path);
