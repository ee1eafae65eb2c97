// Folders and files at the root of the system drive that the component
// writes as an administrator: any user may create folders there first, keep
// control of them, or leave links in them. These routines make such a folder
// one that only SYSTEM and Administrators can change, and move aside, never
// follow, what cannot be trusted.
#pragma once

#include <windows.h>

#include "support/handles.h"

#include <string>
#include <vector>

// What a folder found at a path calls for.
enum FolderVerdict {
    FOLDER_TRUSTED = 0,    // a real folder only trusted accounts can change
    FOLDER_MISSING = 1,    // nothing there: create it protected
    FOLDER_MOVE_ASIDE = 2, // a link, not a folder, or an owner that could take control back
    FOLDER_PROTECT = 3,    // a real folder with a trusted owner that others may change: what they
                           // put there stays theirs, so it is moved aside whole all the same
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

// The owner of an open file or folder (the handle needs READ_CONTROL) into
// sid; false when it cannot be read. Every owner check of these routines
// reads it here.
bool ReadOwnerSid(HANDLE handle, std::vector<BYTE>& sid);
// Whether an open file or folder is owned by SYSTEM, Administrators or the
// account the process runs as.
bool HasTrustedOwner(HANDLE handle);
// Test seam: the platform under test reports every owner as the account it
// runs as, so a test names another owner for the objects it chooses. Null
// restores the platform's answer; returns the previous reader.
typedef bool (*PFN_READ_OWNER)(HANDLE handle, std::vector<BYTE>& sid);
PFN_READ_OWNER SetOwnerReaderForTest(PFN_READ_OWNER reader);

// Whether an open handle holds the object at path itself: its own name is
// path (letter case and short names aside). A handle opened on a link
// without following it is the link; one that holds what a link points to,
// or what a link in a folder above leads to, has another name.
bool HandleIsAt(HANDLE handle, const std::wstring& path);

// "<path>.untrusted-<UTC time as yyyymmddThhmmss>-<8 random hex digits>":
// no one can take the name in advance.
std::wstring UntrustedName(const std::wstring& path);

// Renames what is at path (file, folder or link) to UntrustedName(path)
// through a handle that does not follow links. A link is renamed only where
// the handle holds the link itself: where the platform opens what it points
// to instead, nothing is moved and the result is false.
bool MoveAside(const std::wstring& path, std::wstring* newPath);

// Makes path (a folder directly below a folder that is already trusted, or
// below the drive root) trusted: creates it protected, or moves aside an
// untrusted one (a link, a file, a foreign owner, an access list open to
// others) whole, with everything in it, and creates it anew. Each change
// adds a line (no line end) to changes. False when the folder cannot be
// made trusted.
bool MakeTrustedFolder(const std::wstring& path, std::vector<std::wstring>* changes);
// The same for every level of a folder path below the drive root
// ("C:\a\b" makes "C:\a", then "C:\a\b"); a trailing separator is allowed.
// On failure, why (when given) names the level that could not be made
// trusted and says why ("C:\a is a link (reparse point) and cannot be moved
// aside: error ...").
bool MakeTrustedFolderPath(const std::wstring& path, std::vector<std::wstring>* changes,
                           std::wstring* why = nullptr);

// Renames the file or folder a handle (opened with DELETE access) holds to
// a full path; never replaces what is there.
bool RenameOpenFile(HANDLE handle, const std::wstring& newPath);
// Deletes the file a handle (opened with DELETE access) holds, when it is
// closed.
bool DeleteOpenFile(HANDLE handle);

// Whether an open file is a reparse point, has more than one name, or is
// not the object at path itself (HandleIsAt). The path's own attributes
// count too: some platforms open what a link points to even when asked not
// to.
bool IsLinkedFile(HANDLE file, const std::wstring& path);

// Judges what is at path now, through a handle that does not follow links.
// For a folder that is not trusted, why says so in words ("is a link").
// With pinned, a trusted folder stays open there without delete sharing,
// so that it cannot be renamed or replaced while the handle is kept.
FolderVerdict JudgeFolderAt(const std::wstring& path, std::wstring* why, CUniqueFile* pinned = nullptr);

// Whether path lies in the Windows folder or a Program Files folder (as
// the platform names them, not the environment), which only
// administrators can change.
bool IsInSystemFolder(const std::wstring& path);

// Makes a folder that files are written to, deleted from or renamed in
// one only administrators can change. Below the Windows folder or Program
// Files nothing is checked. Elsewhere every level below the drive root
// (the root itself when the folder is the root) that exists must be
// trusted (JudgeFolderAt): a link, a foreign owner or an access list open
// to others is left as it is and refused; with create, each missing level
// is created protected. False with why naming the folder that was refused
// or could not be created.
bool PrepareDestinationFolder(const std::wstring& folder, bool create, std::wstring* why);
