#include "packagefiles.h"

#include "inf/infutil.h"
#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/emptyfolder.h"
#include "support/errortext.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"
#include "uninstallentry.h"

#include <wchar.h>

namespace {

bool Exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsInUse(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE;
}

void AddFailure(CStrList* failures, const std::wstring& text)
{
    if (failures)
        failures->push_back(CStr(text.c_str()));
}

// Copies a file's bytes into a new file beside target, under a name no one
// holds; the path of the copy, or empty.
CStr CopyBeside(const wchar_t* source, const wchar_t* target)
{
    CStr directory = infutil::DirectoryPart(target);
    const wchar_t* name = target + infutil::FileNameOffset(target);
    for (unsigned counter = 0; counter < 1000; ++counter) {
        CStr candidate(directory);
        candidate += FormatWide(L"%s.zolnew%u", name, counter).c_str();
        if (!infutil::FitsPath(candidate))
            return CStr();
        if ((ZOL_CHANGE_POINT("CopyFileW", candidate.GetString()), CopyFileW(source, candidate.GetString(), TRUE)))
            return candidate;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return CStr();
    }
    return CStr();
}

} // namespace

CStr StoreFolderOf(const CStr& recordFolder)
{
    return infutil::JoinPath(recordFolder.GetString(), L"store");
}

CStr BackupFolderOf(const CStr& recordFolder)
{
    return infutil::JoinPath(recordFolder.GetString(), L"backup");
}

bool KeepPackageFiles(const CStr& from, const CStrList& relativePaths, const CStr& recordFolder,
                      std::vector<std::wstring>* notes, CStrList* failures)
{
    CStr store = StoreFolderOf(recordFolder);
    if (recordFolder.IsEmpty() || !MakeTrustedFolderPath(store.GetString(), notes)) {
        AddFailure(failures, FormatWide(L"Package folder not trusted: %s", store.GetString()));
        return false;
    }
    CStrList made;
    for (const CStr& relative : relativePaths) {
        // Each subfolder of a laid-out package is made as the store is.
        const wchar_t* name = wcsrchr(relative.GetString(), L'\\');
        if (name != nullptr) {
            CStr subfolder = relative.Mid(0, static_cast<size_t>(name - relative.GetString()));
            if (!IsRelativeSubfolder(subfolder.GetString())) {
                AddFailure(failures, UnsafeFileNameText(relative.GetString()));
                return false;
            }
            std::wstring level = store.GetString();
            for (const wchar_t* piece = subfolder.GetString(); *piece;) {
                const wchar_t* end = wcschr(piece, L'\\');
                size_t length = end ? static_cast<size_t>(end - piece) : wcslen(piece);
                level += L"\\" + std::wstring(piece, length);
                bool known = false;
                for (const CStr& done : made)
                    known = known || EqualsAsciiNoCase(done.GetString(), level.c_str());
                if (!known) {
                    if (!MakeTrustedFolder(level, notes)) {
                        AddFailure(failures, FormatWide(L"Package folder not trusted: %s", level.c_str()));
                        return false;
                    }
                    made.push_back(CStr(level.c_str()));
                }
                piece = end ? end + 1 : piece + length;
            }
        }
        CStr source = infutil::JoinPath(from.GetString(), relative.GetString());
        CStr target = infutil::JoinPath(store.GetString(), relative.GetString());
        if (!infutil::FitsPath(source) || !infutil::FitsPath(target) ||
            !(ZOL_CHANGE_POINT("CopyFileW(keep package)", target.GetString()),
              CopyFileW(source.GetString(), target.GetString(), FALSE))) {
            AddFailure(failures, FormatWide(L"Package not kept: %s, error %s", target.GetString(),
                                            DescribeError(GetLastError()).GetString()));
            return false;
        }
    }
    return true;
}

bool RecordFilesBeforeChange(CInstallRecord& record, const CStrList& paths, const CStr& recordFolder,
                             CStrList* failures)
{
    std::vector<RECORDITEM> listed = record.ReadItems(RECORD_FILES);
    CStr backups = BackupFolderOf(recordFolder);
    bool backupsMade = false;
    unsigned long next = CInstallRecord::NextItemNumber(listed);
    for (const CStr& path : paths) {
        bool known = false;
        for (const RECORDITEM& item : listed)
            known = known || EqualsAsciiNoCase(item.Field(L"path").c_str(), path.GetString());
        if (known)
            continue;
        std::wstring name = CInstallRecord::ItemName(next++);
        RECORDFIELDS fields = {{L"path", path.GetString()}, {L"action", L"created"}};
        if (Exists(path.GetString())) {
            if (!backupsMade && !MakeTrustedFolderPath(backups.GetString(), nullptr)) {
                AddFailure(failures, FormatWide(L"Package folder not trusted: %s", backups.GetString()));
                return false;
            }
            backupsMade = true;
            // Kept first, listed after: a run cut off in between leaves a
            // copy nothing names, never a name without its copy.
            CStr copy = infutil::JoinPath(backups.GetString(), name.c_str());
            if (!(ZOL_CHANGE_POINT("CopyFileW(backup)", copy.GetString()),
                  CopyFileW(path.GetString(), copy.GetString(), FALSE))) {
                AddFailure(failures, FormatWide(L"File not kept before it is replaced: %s, error %s", path.GetString(),
                                                DescribeError(GetLastError()).GetString()));
                return false;
            }
            fields = {{L"path", path.GetString()}, {L"action", L"replaced"}, {L"backup", name}};
        }
        if (!record.WriteItem(RECORD_FILES, name, fields)) {
            AddFailure(failures, FormatWide(L"Install record not written: %s, a file, error %s",
                                            record.Key().GetString(),
                                            DescribeError(record.LastError()).GetString()));
            return false;
        }
    }
    return true;
}

DWORD PutBackFile(const wchar_t* backup, const wchar_t* path, bool* restart)
{
    (ZOL_CHANGE_POINT("SetFileAttributesW", path), SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL));
    if ((ZOL_CHANGE_POINT("CopyFileW(put back)", path), CopyFileW(backup, path, FALSE)))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (!IsInUse(error))
        return error;
    // In use: a copy beside it replaces it at the next restart.
    CStr copy = CopyBeside(backup, path);
    if (copy.IsEmpty())
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : error;
    if (!(ZOL_CHANGE_POINT("MoveFileExW(at restart)", path),
          MoveFileExW(copy.GetString(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))) {
        error = GetLastError();
        (ZOL_CHANGE_POINT("DeleteFileW", copy.GetString()), DeleteFileW(copy.GetString()));
        return error;
    }
    if (restart)
        *restart = true;
    return ERROR_SUCCESS;
}

DWORD DeleteInstalledFile(const wchar_t* path, bool* restart)
{
    (ZOL_CHANGE_POINT("SetFileAttributesW", path), SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL));
    if ((ZOL_CHANGE_POINT("DeleteFileW", path), DeleteFileW(path)))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return ERROR_SUCCESS;
    if (!IsInUse(error))
        return error;
    if (!(ZOL_CHANGE_POINT("MoveFileExW(delete at restart)", path),
          MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)))
        return GetLastError();
    if (restart)
        *restart = true;
    return ERROR_SUCCESS;
}

bool DeleteRecordFolder(const CStr& recordFolder)
{
    if (recordFolder.IsEmpty())
        return true;
    DWORD attributes = GetFileAttributesW(recordFolder.GetString());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return (ZOL_CHANGE_POINT("RemoveDirectoryW", recordFolder.GetString()),
                RemoveDirectoryW(recordFolder.GetString())) != FALSE;
    // Taken apart through checked handles, as the staging folder is emptied.
    std::vector<std::wstring> kept;
    EmptyTrustedFolder(recordFolder.GetString(), &kept);
    return (ZOL_CHANGE_POINT("RemoveDirectoryW", recordFolder.GetString()),
            RemoveDirectoryW(recordFolder.GetString())) != FALSE ||
           !Exists(recordFolder.GetString());
}

void ForgetRecordChain(const CStr& key)
{
    CStr next = key;
    // A chain is short; the bound keeps a damaged one from looping.
    for (int step = 0; step < 64 && !next.IsEmpty(); ++step) {
        CInstallRecord record(next.GetString());
        if (!record.Exists())
            break;
        CStr later = record.ReadValue(RECORD_SUPERSEDED_BY);
        DeleteRecordFolder(CInstallRecord::FolderOf(next.GetString()));
        RemoveKeptCopy(next.GetString(), nullptr);
        record.Delete();
        next = later;
    }
}
