// CInf file operations: the "CopyFiles", "DelFiles" and "RenFiles"
// directives carried out with plain file-system calls. A file that is in use
// is replaced, deleted or renamed at the next restart instead, and the object
// then reports that a restart is needed.
#include "inf/inf.h"

#include <cwchar>
#include <string>
#include <vector>

#include "inf/infutil.h"
#include "support/changepoint.h"
#include "support/errortext.h"
#include "support/folderpath.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"

namespace {

// Limits of the file-list reads.
const size_t kSectionNameChars = 512;
const size_t kCopyNameChars = 256;
const size_t kDeleteNameChars = 512;
const size_t kRenameNameChars = 256;

// Copy flags that keep an existing destination file, and delete flags that
// defer the deletion to the next restart (whole-value comparisons). The SDK
// names no copy flag 0x00010000; it is taken as no-overwrite too, in the
// high word as DELFLG_IN_USE1 is for deletes.
const int kCopyNoOverwrite = COPYFLG_NO_OVERWRITE;
const int kCopyNoOverwriteHighWord = 0x00010000;
const int kDeleteAtRestart = DELFLG_IN_USE;
const int kDeleteAtRestartHighWord = DELFLG_IN_USE1;

// The target is held by someone else.
bool IsInUseError(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

typedef int (CInf::*FileListOperation)(const wchar_t* section);

// Chunk of the temporary copy's content copy.
const DWORD kCopyChunkBytes = 64 * 1024;

// Copies the content of source into the open file target.
bool CopyContent(const wchar_t* source, HANDLE target)
{
    CUniqueFile from(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!from)
        return false;
    std::vector<char> chunk(kCopyChunkBytes);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from.get(), chunk.data(), kCopyChunkBytes, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(target, chunk.data(), read, &written, nullptr) || written != read)
            return false;
    }
}

} // namespace

// A name read from a file list becomes a path only when it is a plain name
// and its join with folder stays inside folder. A refused name adds a
// failure naming it and is never used. A joined path too long for the engine
// is handed back as it is: the caller refuses it with its own failure.
static bool JoinListedName(CInf* inf, const CStr& folder, const CStr& name, CStr* path)
{
    path->Empty();
    if (IsPlainName(name.GetString())) {
        CStr joined = infutil::JoinPath(folder.GetString(), name.GetString());
        if (!infutil::FitsPath(joined) || StaysInsideFolder(folder.GetString(), joined.GetString())) {
            *path = joined;
            return true;
        }
    }
    inf->AddFailure(UnsafeFileNameText(name.GetString()));
    return false;
}

// The folder a file operation creates or writes into is either below the
// Windows folder or Program Files, or one only administrators can change
// at every level (missing levels of a copy's folder are created so): a
// link, another account's folder or one open to others is never written
// through, and the operation is refused with a failure naming the folder.
// The operation then acts by path on what was checked: no one but an
// administrator can change those folders in between.
static bool CheckDestinationFolder(CInf* inf, const CStr& directory, bool createMissing)
{
    std::wstring why;
    if (PrepareDestinationFolder(directory.GetString(), createMissing, &why))
        return true;
    inf->AddFailure(why);
    return false;
}

unsigned long CInf::s_nTempNameLimit = 100000;

// The three directive kinds share one walk: every line with the key, every
// field of the line a file-list section; every section is attempted.
static int ProcessFileDirective(CInf* inf, HINF hInf, const wchar_t* section, const wchar_t* key,
                                FileListOperation operation)
{
    if (section == nullptr)
        return 0;
    int result = 1;
    INFCONTEXT context;
    if (!SetupFindFirstLineW(hInf, section, key, &context))
        return result;
    do {
        DWORD count = SetupGetFieldCount(&context);
        for (DWORD i = 1; i <= count; ++i) {
            CStr fileList;
            // A name longer than the limit cannot name a section of the INF.
            if (!infutil::ReadStringField(&context, i, kSectionNameChars, &fileList))
                continue;
            if (!(inf->*operation)(fileList.GetString()))
                result = 0;
        }
    } while (SetupFindNextMatchLineW(&context, key, &context));
    return result;
}

// The file directives need the INF's destination directories.
static int HasDestinationDirs(CInf* inf, const wchar_t* section)
{
    if (inf->ReadDestinationDirs())
        return 1;
    inf->AddFailure(FormatWide(L"File operations of %s failed: the INF names no destination directory",
                               section ? section : L""));
    return 0;
}

int CInf::ProcessCopyFiles(const wchar_t* section)
{
    if (!HasDestinationDirs(this, section))
        return 0;
    return ProcessFileDirective(this, m_hInf.get(), section, L"CopyFiles", &CInf::CopyFileList);
}

int CInf::ProcessDelFiles(const wchar_t* section)
{
    if (!HasDestinationDirs(this, section))
        return 0;
    return ProcessFileDirective(this, m_hInf.get(), section, L"DelFiles", &CInf::DeleteFileList);
}

int CInf::ProcessRenFiles(const wchar_t* section)
{
    if (!HasDestinationDirs(this, section))
        return 0;
    return ProcessFileDirective(this, m_hInf.get(), section, L"RenFiles", &CInf::RenameFileList);
}

int CInf::CopyFileList(const wchar_t* section)
{
    if (section == nullptr || !m_hInf.valid())
        return 0;
    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), section, nullptr, &context))
        return 1; // no such section, or no lines: nothing to copy

    int result = 1;
    do {
        CStr destName;
        if (!infutil::ReadStringField(&context, 1, kCopyNameChars, &destName) || destName.IsEmpty()) {
            AddFailure(FormatWide(L"File copy failed: a line of %s names no file", section));
            result = 0;
            break;
        }
        CStr directory;
        if (!GetDestinationDir(section, &directory)) {
            AddFailure(FormatWide(L"File copy failed: no destination directory for %s", section));
            return 0;
        }
        CStr target;
        if (!JoinListedName(this, directory, destName, &target)) {
            result = 0;
            break;
        }
        // The folders the check creates are recorded first, as created.
        if (infutil::FitsPath(target) && (!NoteFolders(directory.GetString()) ||
                                          !CheckDestinationFolder(this, directory, true))) {
            result = 0;
            break;
        }
        if (!infutil::FitsPath(target) || !EnsureFileDirectory(target.GetString())) {
            AddFailure(FormatWide(L"File copy failed: %s, cannot create its directory", target.GetString()));
            result = 0;
            break;
        }

        // The source is field 2, or the destination name when field 2 is
        // absent or empty. A source name that is present but too long fails
        // the line rather than copying a different file.
        CStr sourceName;
        if (!infutil::ReadStringField(&context, 2, kCopyNameChars, &sourceName) &&
            SetupGetFieldCount(&context) >= 2) {
            AddFailure(FormatWide(L"File copy failed: %s, source name too long", target.GetString()));
            result = 0;
            break;
        }
        if (sourceName.IsEmpty())
            sourceName = destName;
        CStr source;
        if (!JoinListedName(this, m_strInfDir, sourceName, &source)) {
            result = 0;
            break;
        }
        if (!infutil::FitsPath(source)) {
            AddFailure(FormatWide(L"File copy failed: %s, source path too long", target.GetString()));
            result = 0;
            break;
        }

        int flags = 0;
        BOOL noOverwrite = infutil::ReadIntField(&context, 4, &flags) &&
                           (flags == kCopyNoOverwrite || flags == kCopyNoOverwriteHighWord);
        if (!NoteFileChange(target, noOverwrite != FALSE)) {
            result = 0;
            break;
        }

        if ((ZOL_CHANGE_POINT("CopyFileW", target.GetString()),
             CopyFileW(source.GetString(), target.GetString(), noOverwrite)))
            continue;
        DWORD error = GetLastError();
        if (IsInUseError(error) || error == ERROR_USER_MAPPED_FILE) {
            // Replace the target at the next restart from a private copy of
            // the source, made beside the target.
            CStr temp;
            if (!MakeTempCopy(source.GetString(), target.GetString(), &temp)) {
                error = GetLastError();
                result = 0;
            } else if ((ZOL_CHANGE_POINT("MoveFileExW(at restart)", target.GetString()),
                        MoveFileExW(temp.GetString(), target.GetString(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))) {
                m_bRebootNeeded = 1;
            } else {
                error = GetLastError();
                (ZOL_CHANGE_POINT("DeleteFileW", temp.GetString()),
                 DeleteFileW(temp.GetString())); // nothing will use it
                result = 0;
            }
        } else if (error == ERROR_FILE_EXISTS) {
            // Kept as it is (no-overwrite).
        } else {
            result = 0;
        }
        if (!result)
            AddFailure(FormatWide(L"File copy failed: %s to %s, error %s", source.GetString(), target.GetString(),
                                  DescribeError(error).GetString()));
    } while (result && SetupFindNextLine(&context, &context));
    return result;
}

int CInf::DeleteFileList(const wchar_t* section)
{
    if (section == nullptr || !m_hInf.valid())
        return 0;
    CStr directory;
    if (!GetDestinationDir(section, &directory)) {
        AddFailure(FormatWide(L"File delete failed: no destination directory for %s", section));
        return 0;
    }
    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), section, nullptr, &context))
        return 1;

    int result = 1;
    do {
        CStr name;
        // An empty name would name the destination directory itself.
        if (!infutil::ReadStringField(&context, 1, kDeleteNameChars, &name) || name.IsEmpty()) {
            AddFailure(FormatWide(L"File delete failed: a line of %s names no file", section));
            result = 0;
            break;
        }
        CStr path;
        if (!JoinListedName(this, directory, name, &path)) {
            result = 0;
            break;
        }
        if (!infutil::FitsPath(path)) {
            AddFailure(FormatWide(L"File delete failed: %s, path too long", path.GetString()));
            result = 0;
            break;
        }

        if (!CheckDestinationFolder(this, directory, false)) {
            result = 0;
            break;
        }

        int flags = 0;
        bool atRestart = infutil::ReadIntField(&context, 4, &flags) &&
                         (flags == kDeleteAtRestart || flags == kDeleteAtRestartHighWord);
        if (!NoteFileRemoval(path)) {
            result = 0;
            break;
        }
        BOOL done;
        if (atRestart) {
            done = (ZOL_CHANGE_POINT("MoveFileExW(delete at restart)", path.GetString()),
                    MoveFileExW(path.GetString(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
            if (done)
                m_bRebootNeeded = 1;
        } else {
            done = (ZOL_CHANGE_POINT("DeleteFileW", path.GetString()), DeleteFileW(path.GetString()));
        }
        if (done)
            continue;

        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            // Nothing to delete.
        } else if (IsInUseError(error)) {
            if ((ZOL_CHANGE_POINT("MoveFileExW(delete at restart)", path.GetString()),
                 MoveFileExW(path.GetString(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)))
                m_bRebootNeeded = 1;
            else
                result = 0;
        } else {
            result = 0;
        }
        if (!result)
            AddFailure(FormatWide(L"File delete failed: %s, error %s", path.GetString(),
                                  DescribeError(error).GetString()));
    } while (result && SetupFindNextLine(&context, &context));
    return result;
}

int CInf::RenameFileList(const wchar_t* section)
{
    if (section == nullptr || !m_hInf.valid())
        return 0;
    CStr directory;
    if (!GetDestinationDir(section, &directory)) {
        AddFailure(FormatWide(L"File rename failed: no destination directory for %s", section));
        return 0;
    }
    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), section, nullptr, &context))
        return 1;

    int result = 1;
    do {
        CStr newName, oldName;
        if (SetupGetFieldCount(&context) != 2 ||
            !infutil::ReadStringField(&context, 1, kRenameNameChars, &newName) || newName.IsEmpty() ||
            !infutil::ReadStringField(&context, 2, kRenameNameChars, &oldName) || oldName.IsEmpty()) {
            AddFailure(FormatWide(L"File rename failed: a line of %s does not name a new and an old file",
                                  section));
            result = 0;
            break;
        }
        CStr newPath, oldPath;
        if (!JoinListedName(this, directory, newName, &newPath) ||
            !JoinListedName(this, directory, oldName, &oldPath)) {
            result = 0;
            break;
        }
        if (!infutil::FitsPath(newPath) || !infutil::FitsPath(oldPath)) {
            AddFailure(FormatWide(L"File rename failed: %s, path too long", oldPath.GetString()));
            result = 0;
            break;
        }
        if (!NoteFileRemoval(oldPath) || !NoteFileChange(newPath, false)) {
            result = 0;
            break;
        }

        if (!CheckDestinationFolder(this, directory, false)) {
            result = 0;
            break;
        }

        if ((ZOL_CHANGE_POINT("MoveFileW", newPath.GetString()), MoveFileW(oldPath.GetString(), newPath.GetString())))
            continue;
        DWORD error = GetLastError();
        if (IsInUseError(error) && (ZOL_CHANGE_POINT("MoveFileExW(at restart)", newPath.GetString()),
                                    MoveFileExW(oldPath.GetString(), newPath.GetString(),
                                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))) {
            m_bRebootNeeded = 1;
        } else {
            if (IsInUseError(error))
                error = GetLastError();
            AddFailure(FormatWide(L"File rename failed: %s to %s, error %s", oldPath.GetString(),
                                  newPath.GetString(), DescribeError(error).GetString()));
            result = 0;
        }
    } while (result && SetupFindNextLine(&context, &context));
    return result;
}

int CInf::EnsureFileDirectory(const wchar_t* filePath)
{
    if (filePath == nullptr)
        return 0;
    CStr directory = infutil::DirectoryPart(filePath);
    if (directory.IsEmpty())
        return 1; // a bare name: the current directory
    return EnsureDirectory(directory.GetString());
}

int CInf::EnsureDirectory(const wchar_t* directory)
{
    return NoteFolders(directory) && CreateFolderPath(directory) ? 1 : 0;
}

int CInf::MakeTempCopy(const wchar_t* source, const wchar_t* target, CStr* pTempPath)
{
    if (pTempPath == nullptr)
        return 0;
    pTempPath->Empty();
    if (source == nullptr || source[0] == L'\0' || target == nullptr || target[0] == L'\0')
        return 0;

    // Base name and extension (dot included) of the source.
    size_t nameOffset = infutil::FileNameOffset(source);
    CStr fileName(source + nameOffset);
    CStr baseName(fileName), extension;
    const wchar_t* dot = wcsrchr(fileName.GetString(), L'.');
    if (dot != nullptr) {
        size_t dotOffset = static_cast<size_t>(dot - fileName.GetString());
        baseName = fileName.Mid(0, dotOffset);
        extension = fileName.Mid(dotOffset, fileName.GetLength() - dotOffset);
    }

    // The copy is made in the target's own folder, which only those who may
    // replace the target can write to; a shared folder such as the temporary
    // one would let another user put a file of their own under the name
    // before it is created, or change it before the restart moves it.
    CStr directory = infutil::DirectoryPart(target);
    CStr stem = directory.IsEmpty() ? baseName : infutil::JoinPath(directory.GetString(), baseName.GetString());

    // Each candidate is created only when no file of that name exists, so no
    // other process can hold the name first. The search is bounded: a folder
    // full of numbered names ends it with a failure instead of a loop without
    // end.
    for (unsigned long counter = 0; counter < s_nTempNameLimit; ++counter) {
        CStr candidate(stem);
        candidate += CStr(std::to_wstring(counter).c_str());
        candidate += extension;
        if (!infutil::FitsPath(candidate))
            return 0;
        CUniqueFile file((
            ZOL_CHANGE_POINT("CreateFileW(temporary copy)", candidate.GetString()),
            CreateFileW(candidate.GetString(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!file) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            return 0; // the folder is missing or cannot be written
        }
        if (!CopyContent(source, file.get())) {
            DWORD error = GetLastError();
            file.reset();
            (ZOL_CHANGE_POINT("DeleteFileW", candidate.GetString()),
             DeleteFileW(candidate.GetString())); // ours, and of no use
            SetLastError(error);
            return 0;
        }
        *pTempPath = candidate;
        return 1;
    }
    return 0;
}
