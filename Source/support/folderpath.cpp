#include "support/changepoint.h"
#include "support/folderpath.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

bool IsPathSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Parent of a directory path: one trailing separator dropped, then cut after
// the last remaining separator, which the parent keeps (C:\a\b\ gives C:\a\ ).
// False when there is no separator left.
bool ParentDirectory(const std::wstring& path, std::wstring* parent)
{
    size_t len = path.size();
    if (len > 0 && IsPathSeparator(path[len - 1]))
        --len;
    while (len > 0 && !IsPathSeparator(path[len - 1]))
        --len;
    if (len == 0)
        return false;
    parent->assign(path, 0, len);
    return true;
}

} // namespace

bool CreateFolderPath(const wchar_t* directory)
{
    if (directory == nullptr || directory[0] == L'\0')
        return false;
    // Longer paths are never built here; refusing them also bounds the walk.
    std::wstring current(directory);
    if (current.size() > MAX_PATH - 1)
        return false;

    // The walk is a loop, so its depth is bounded by the path itself and
    // never by the stack.
    std::vector<std::wstring> missing;
    for (;;) {
        if ((ZOL_CHANGE_POINT("CreateDirectoryW", current.c_str()), CreateDirectoryW(current.c_str(), nullptr)) ||
            GetLastError() == ERROR_ALREADY_EXISTS)
            break;
        if (GetLastError() != ERROR_PATH_NOT_FOUND)
            return false;
        missing.push_back(current);
        std::wstring parent;
        if (!ParentDirectory(current, &parent))
            break; // nothing above to create; the retries below decide
        current = parent;
    }
    for (size_t i = missing.size(); i-- > 0;) {
        if (!(ZOL_CHANGE_POINT("CreateDirectoryW", missing[i].c_str()),
              CreateDirectoryW(missing[i].c_str(), nullptr)) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}
