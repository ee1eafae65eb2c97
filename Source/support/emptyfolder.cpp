#include "support/changepoint.h"
#include "support/emptyfolder.h"

#include "support/handles.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"

#include <wchar.h>

namespace {

// How deep the emptying goes into subfolders; deeper ones are kept.
const int kMaxDepth = 8;
// Room for a batch of directory entries.
const size_t kListingBytes = 16 * 1024;

PFN_EMPTY_FOLDER_HOOK g_hook = nullptr;

// One entry of a folder as the listing showed it.
struct LISTEDENTRY {
    std::wstring name;
    DWORD attributes;
    LARGE_INTEGER id;
};

// The entries of an open folder, read through its handle.
bool ListFolder(HANDLE folder, std::vector<LISTEDENTRY>& entries)
{
    std::vector<LONGLONG> storage(kListingBytes / sizeof(LONGLONG)); // aligned for the records
    BYTE* buffer = reinterpret_cast<BYTE*>(storage.data());
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, request, buffer, static_cast<DWORD>(kListingBytes))) {
        request = FileIdBothDirectoryInfo;
        for (size_t offset = 0;;) {
            const FILE_ID_BOTH_DIR_INFO* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
            std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({name, record->FileAttributes, record->FileId});
            if (record->NextEntryOffset == 0)
                break;
            offset += record->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// Whether an open handle is the entry the listing showed at path: the same
// file ID under the same name (a link followed, or an entry swapped since
// the listing, shows another).
bool IsListedEntry(HANDLE handle, const std::wstring& path, const LISTEDENTRY& entry,
                   BY_HANDLE_FILE_INFORMATION& info)
{
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    return info.nFileIndexHigh == static_cast<DWORD>(entry.id.HighPart) &&
           info.nFileIndexLow == entry.id.LowPart && HandleIsAt(handle, path);
}

// Deletes what a checked handle holds; a read-only attribute is cleared
// first. The deletion takes effect when the handle closes.
bool DeleteByHandle(HANDLE handle)
{
    FILE_BASIC_INFO basic = {};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (basic.FileAttributes == 0)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        (ZOL_CHANGE_POINT("SetFileInformationByHandle(attributes)", nullptr),
         SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)));
    }
    return DeleteOpenFile(handle);
}

bool EmptyOpenFolder(HANDLE folder, const std::wstring& path, int depth, std::vector<std::wstring>* kept);

void Keep(std::vector<std::wstring>* kept, const std::wstring& path, const wchar_t* why)
{
    if (kept)
        kept->push_back(FormatWide(L"%s %s", path.c_str(), why));
}

// Removes one listed entry; false (with a line in kept) when it is left.
bool RemoveEntry(const std::wstring& path, const LISTEDENTRY& entry, int depth, std::vector<std::wstring>* kept)
{
    if (g_hook != nullptr)
        g_hook(path);
    // Without delete sharing: while it is open no one else can rename it or
    // put something else under its name.
    CUniqueFile handle(CreateFileW(path.c_str(),
                                   DELETE | READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                                       FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return true; // gone already
        Keep(kept, path, L"cannot be opened");
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsListedEntry(handle.get(), path, entry, info)) {
        Keep(kept, path, L"is a link or changed after the listing");
        return false;
    }
    // A link is removed as the link and never entered.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (DeleteByHandle(handle.get()))
            return true;
        Keep(kept, path, L"is a link that cannot be removed");
        return false;
    }
    // The listing saw a link where the handle holds none: the platform
    // opened what the link points to.
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        Keep(kept, path, L"is a link that cannot be opened as the link");
        return false;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (info.nNumberOfLinks > 1) {
            Keep(kept, path, L"has another name");
            return false;
        }
        if (!HasTrustedOwner(handle.get())) {
            Keep(kept, path, L"is owned by another account");
            return false;
        }
        if (DeleteByHandle(handle.get()))
            return true;
        Keep(kept, path, L"cannot be deleted");
        return false;
    }
    std::wstring why;
    if (JudgeFolderAt(path, &why) != FOLDER_TRUSTED) {
        Keep(kept, path, why.c_str());
        return false;
    }
    if (depth >= kMaxDepth) {
        Keep(kept, path, L"lies too deep");
        return false;
    }
    if (!EmptyOpenFolder(handle.get(), path, depth + 1, kept))
        return false;
    if (DeleteByHandle(handle.get()))
        return true;
    Keep(kept, path, L"cannot be deleted");
    return false;
}

bool EmptyOpenFolder(HANDLE folder, const std::wstring& path, int depth, std::vector<std::wstring>* kept)
{
    std::vector<LISTEDENTRY> entries;
    if (!ListFolder(folder, entries)) {
        Keep(kept, path, L"cannot be listed");
        return false;
    }
    bool empty = true;
    for (const LISTEDENTRY& entry : entries)
        empty = RemoveEntry(path + L"\\" + entry.name, entry, depth, kept) && empty;
    return empty;
}

} // namespace

PFN_EMPTY_FOLDER_HOOK SetEmptyFolderHookForTest(PFN_EMPTY_FOLDER_HOOK hook)
{
    PFN_EMPTY_FOLDER_HOOK previous = g_hook;
    g_hook = hook;
    return previous;
}

bool EmptyTrustedFolder(const std::wstring& folder, std::vector<std::wstring>* kept)
{
    std::wstring path = folder;
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    CUniqueFile handle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle || !GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
            FILE_ATTRIBUTE_DIRECTORY ||
        !HandleIsAt(handle.get(), path)) {
        Keep(kept, path, L"cannot be opened as a folder");
        return false;
    }
    return EmptyOpenFolder(handle.get(), path, 0, kept);
}
