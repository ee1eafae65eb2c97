#include "devices/pnpdriver.h"

#include "inf/infcopyfiles.h"
#include "inf/infpackagecheck.h"
#include "inf/infsourcelayout.h"
#include "inf/infutil.h"
#include "inf/newdevlibrary.h"
#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/componentdirectory.h"
#include "support/emptyfolder.h"
#include "support/errortext.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"

#include <wchar.h>

#include <vector>

namespace {

// Hardware IDs are at most 255 characters.
const size_t kHardwareIdChars = 256;
const DWORD kCatalogFieldChars = MAX_PATH;
const DWORD kCopyChunk = 64 * 1024;

const wchar_t* const kCatalogKeys[] = {
    L"CatalogFile", L"CatalogFile.nt", L"CatalogFile.ntx86", L"CatalogFile.ntia64", L"CatalogFile.ntamd64",
};

bool IsListed(const CStrList& list, const wchar_t* text)
{
    for (const CStr& entry : list) {
        if (entry.Equals(text))
            return true;
    }
    return false;
}

bool IsListedNoCase(const CStrList& list, const wchar_t* text)
{
    for (const CStr& entry : list) {
        if (EqualsAsciiNoCase(entry.GetString(), text))
            return true;
    }
    return false;
}

// The directives whose file names are checked.
const wchar_t* const kFileDirectives[] = {L"CopyFiles", L"DelFiles", L"RenFiles"};

// "<a>\<b>" into a buffer of MAX_PATH characters; false when it does not fit,
// when name is not a plain file name or the joined path leaves directory.
bool JoinPath(wchar_t* buffer, const wchar_t* directory, const wchar_t* name)
{
    buffer[0] = L'\0';
    if (!IsPlainName(name) || !FormatWideBuffer(buffer, MAX_PATH, L"%s\\%s", directory, name))
        return false;
    if (StaysInsideFolder(directory, buffer))
        return true;
    buffer[0] = L'\0';
    return false;
}

// "<folder>\<relative path>" into a buffer of MAX_PATH characters, for a
// path of plain names ("driver.sys", "amd64\driver.sys"); false when it does
// not fit, or a piece is not a plain name, or the path leaves folder.
bool JoinRelativePath(wchar_t* buffer, const wchar_t* folder, const wchar_t* relativePath)
{
    buffer[0] = L'\0';
    const wchar_t* name = wcsrchr(relativePath, L'\\');
    if (name == nullptr)
        return JoinPath(buffer, folder, relativePath);
    std::wstring subfolder(relativePath, static_cast<size_t>(name - relativePath));
    if (!IsRelativeSubfolder(subfolder.c_str()) || !IsPlainName(name + 1) ||
        !FormatWideBuffer(buffer, MAX_PATH, L"%s\\%s", folder, relativePath))
        return false;
    if (StaysInsideFolder(folder, buffer))
        return true;
    buffer[0] = L'\0';
    return false;
}

// Reads field index of a line; false when it is missing or longer than the
// buffer (a value is never cut).
bool GetField(INFCONTEXT* context, DWORD index, wchar_t* buffer, DWORD chars)
{
    buffer[0] = L'\0';
    if (!SetupGetStringFieldW(context, index, buffer, chars, nullptr)) {
        buffer[0] = L'\0';
        return false;
    }
    return true;
}

} // namespace

CWin2000PnPDriver::CWin2000PnPDriver(const wchar_t* infName, int force)
    : m_strInfName(infName ? infName : L""), m_bReboot(0), m_bForce(force ? 1 : 0)
{
}

CWin2000PnPDriver::~CWin2000PnPDriver() {}

void CWin2000PnPDriver::AddHardwareId(const wchar_t* hardwareId)
{
    if (hardwareId == nullptr || IsListed(m_vHardwareIds, hardwareId))
        return;
    m_vHardwareIds.push_back(CStr(hardwareId));
}

bool CWin2000PnPDriver::CheckPackageName(const wchar_t* name)
{
    if (IsPlainName(name))
        return true;
    if (name != nullptr && !IsListed(m_vUnsafeNames, name))
        m_vUnsafeNames.push_back(CStr(name));
    return false;
}

int CWin2000PnPDriver::AddStageFile(const wchar_t* fileName)
{
    AddStageFileAt(CStr(), fileName);
    return 1;
}

void CWin2000PnPDriver::AddStageFileAt(const CStr& subfolder, const wchar_t* fileName)
{
    if (fileName == nullptr || *fileName == L'\0')
        return;
    CStr path = CInfSourceLayout::RelativePath(subfolder, fileName);
    if (IsListed(m_vStageFiles, path.GetString()) || !CheckPackageName(fileName))
        return;
    m_vStageFiles.push_back(path);
    m_vStageFiles.push_back(CInfSourceLayout::RelativePath(subfolder, GetCompressedName(fileName).GetString()));
}

void CWin2000PnPDriver::AddLaidOutFile(const CInfSourceLayout& layout, const wchar_t* fileName)
{
    CStr subfolder;
    if (fileName == nullptr || *fileName == L'\0')
        return;
    if (layout.Subfolder(fileName, &subfolder)) {
        AddStageFileAt(subfolder, fileName);
        return;
    }
    // A layout that leaves the package refuses it, as a file name would.
    CStr path = CInfSourceLayout::RelativePath(subfolder, fileName);
    if (!IsListed(m_vUnsafeNames, path.GetString()))
        m_vUnsafeNames.push_back(path);
}

CStr CWin2000PnPDriver::GetCompressedName(const wchar_t* fileName)
{
    return infcopyfiles::CompressedName(fileName);
}

CStr CWin2000PnPDriver::GetStagingFolder()
{
    wchar_t system[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length < 2 || length >= MAX_PATH)
        return CStr();
    system[2] = L'\0';
    CStr folder(system);
    folder += L"\\DEVAVOROR\\pnpdrvs";
    return folder;
}

void CWin2000PnPDriver::CollectCatalogFiles(HINF inf)
{
    wchar_t field[kCatalogFieldChars];
    for (const wchar_t* key : kCatalogKeys) {
        INFCONTEXT context;
        if (!SetupFindFirstLineW(inf, L"Version", key, &context))
            continue;
        if (GetField(&context, 1, field, kCatalogFieldChars))
            AddStageFile(field);
    }
}

void CWin2000PnPDriver::CollectCopyFiles(HINF inf, const wchar_t* infPath)
{
    CStrList sections;
    for (const CStr& section : infutil::ReadSectionNames(infPath)) {
        const wchar_t* name = section.GetString();
        INFCONTEXT context;
        if (SetupFindFirstLineW(inf, name, L"CopyFiles", &context))
            sections.push_back(CStr(name));
        // Every name the driver update would copy, delete or rename is
        // checked, not only the names staged here.
        for (const wchar_t* key : kFileDirectives) {
            CStrList files, fileLists;
            infcopyfiles::ReadDirectiveLines(inf, name, key, &files, &fileLists);
            for (const CStr& fileList : fileLists)
                infcopyfiles::ReadFileListNames(inf, fileList.GetString(), &files);
            for (const CStr& file : files)
                CheckPackageName(file.GetString());
        }
    }

    // Each file is staged where the INF's source layout puts it.
    CInfSourceLayout layout(inf);
    CStrList fileLists;
    for (const CStr& section : sections) {
        CStrList files;
        infcopyfiles::ReadCopyFilesLines(inf, section.GetString(), &files, &fileLists);
        for (const CStr& file : files)
            AddLaidOutFile(layout, file.GetString());
    }

    for (const CStr& section : fileLists) {
        CStrList files;
        infcopyfiles::ReadFileListSources(inf, section.GetString(), &files);
        for (const CStr& file : files)
            AddLaidOutFile(layout, file.GetString());
    }
}

bool CWin2000PnPDriver::PrepareStagingFolder(const wchar_t* folder)
{
    // The handles of an earlier staging would keep its files in place.
    m_vStagedHandles.clear();
    m_vStagingSubfolders.clear();
    m_vUntrustedSubfolders.clear();
    std::vector<std::wstring> changes;
    bool trusted = MakeTrustedFolderPath(folder, &changes);
    for (const std::wstring& change : changes)
        m_vNotes.push_back(CStr(change.c_str()));
    if (!trusted)
        return false;
    // Nothing an earlier run (or anyone else) left there stands in for a
    // package file.
    return EmptyStagingFolder(folder);
}

bool CWin2000PnPDriver::EmptyStagingFolder(const wchar_t* folder)
{
    std::vector<std::wstring> kept;
    if (EmptyTrustedFolder(folder, &kept))
        return true;
    // What the folder holds that is not plainly ours is neither entered nor
    // deleted: the folder goes aside whole, with it, and a new one is made.
    // The note names the first such entry (its name is anyone's text).
    std::wstring aside;
    if (!MoveAside(folder, &aside))
        return false;
    CStr first = EscapeControlChars(kept.empty() ? L"" : kept.front().c_str());
    m_vNotes.push_back(CStr(FormatWide(L"Untrusted folder moved aside: %s -> %s (%s)", folder, aside.c_str(),
                                       first.GetString()).c_str()));
    std::vector<std::wstring> changes;
    bool trusted = MakeTrustedFolder(folder, &changes);
    for (const std::wstring& change : changes)
        m_vNotes.push_back(CStr(change.c_str()));
    return trusted;
}

bool CWin2000PnPDriver::EmptyStagingFolder()
{
    CStr folder = GetStagingFolder();
    return !folder.IsEmpty() && PrepareStagingFolder(folder.GetString());
}

int CWin2000PnPDriver::StageDriverFiles(const wchar_t* folder)
{
    if (folder == nullptr || *folder == L'\0' || !PrepareStagingFolder(folder)) {
        CopyStageFiles(nullptr);
        return 0;
    }
    return CopyStageFiles(folder);
}

bool CWin2000PnPDriver::MakeStagingSubfolders(const wchar_t* folder, const wchar_t* relativePath)
{
    // Each level below the staging folder, the way the staging folder itself
    // is made: nothing found there is followed or written into.
    std::wstring path(folder);
    for (const wchar_t* piece = relativePath; const wchar_t* end = wcschr(piece, L'\\'); piece = end + 1) {
        path += L'\\';
        path.append(piece, static_cast<size_t>(end - piece));
        if (IsListedNoCase(m_vStagingSubfolders, path.c_str()))
            continue;
        if (IsListedNoCase(m_vUntrustedSubfolders, path.c_str()))
            return false;
        std::vector<std::wstring> changes;
        bool trusted = MakeTrustedFolder(path, &changes);
        for (const std::wstring& change : changes)
            m_vNotes.push_back(CStr(change.c_str()));
        if (!trusted) {
            m_vUntrustedSubfolders.push_back(CStr(path.c_str()));
            AddFailure(FormatWide(L"Staging folder not trusted: %s", path.c_str()));
            return false;
        }
        m_vStagingSubfolders.push_back(CStr(path.c_str()));
    }
    return true;
}

DWORD CWin2000PnPDriver::StageFile(const wchar_t* relativePath, const wchar_t* source, const wchar_t* folder,
                                   const wchar_t* target)
{
    CUniqueFile in(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in)
        return GetLastError();
    // Without its trusted folder the file has no place (the failure names
    // the folder).
    if (wcschr(relativePath, L'\\') != nullptr && !MakeStagingSubfolders(folder, relativePath))
        return ERROR_PATH_NOT_FOUND;
    BY_HANDLE_FILE_INFORMATION created;
    {
        // A new file: whatever is found under the name is not written into.
        CUniqueFile out((ZOL_CHANGE_POINT("CreateFileW(staging)", target),
                         CreateFileW(target, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!out)
            return GetLastError();
        std::vector<char> chunk(kCopyChunk);
        DWORD error = ERROR_SUCCESS;
        for (;;) {
            DWORD read = 0, written = 0;
            if (!ReadFile(in.get(), chunk.data(), kCopyChunk, &read, nullptr)) {
                error = GetLastError();
                break;
            }
            if (read == 0)
                break;
            if (!WriteFile(out.get(), chunk.data(), read, &written, nullptr) || written != read) {
                error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
                break;
            }
        }
        if (error == ERROR_SUCCESS && !GetFileInformationByHandle(out.get(), &created))
            error = GetLastError();
        if (error != ERROR_SUCCESS) {
            DeleteOpenFile(out.get());
            return error;
        }
    }
    // The copy stays open for reading with a share mode that lets others
    // read it but not write, rename or delete it, so the file the checks
    // read is the one the driver updates read.
    CUniqueFile held(CreateFileW(target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(held.get(), &info) || info.dwVolumeSerialNumber != created.dwVolumeSerialNumber ||
        info.nFileIndexHigh != created.nFileIndexHigh || info.nFileIndexLow != created.nFileIndexLow ||
        IsLinkedFile(held.get(), target))
        return ERROR_ACCESS_DENIED;
    m_vStagedHandles.push_back(std::move(held));
    return ERROR_SUCCESS;
}

int CWin2000PnPDriver::CopyStageFiles(const wchar_t* folder)
{
    AddStageFile(m_strInfName.GetString());

    // The INF is read from the component's own directory. An INF that cannot
    // be opened stages only itself (and its compressed name).
    wchar_t infPath[MAX_PATH] = {};
    CStr componentDirectory = m_strPackageFolder.IsEmpty() ? GetComponentDirectory() : m_strPackageFolder;
    CUniqueInf inf;
    if (!componentDirectory.IsEmpty() && !m_strInfName.IsEmpty() &&
        JoinPath(infPath, componentDirectory.GetString(), m_strInfName.GetString()))
        inf.reset(SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (inf.valid()) {
        CollectCatalogFiles(inf.get());
        CollectCopyFiles(inf.get(), infPath);
    }

    // A package that names a file by anything but a plain name is refused
    // before anything is staged.
    if (folder == nullptr || *folder == L'\0' || !m_vUnsafeNames.empty())
        return 0;

    // Names are listed in pairs: a file, then its compressed name. A file
    // counts as not staged when neither copy succeeded; one the package does
    // not hold under either name is not a failed copy (the check of the
    // package's completeness names it where it matters).
    m_vStagedFiles.clear();
    int result = 1;
    wchar_t target[MAX_PATH];
    wchar_t source[MAX_PATH];
    for (size_t i = 0; i < m_vStageFiles.size(); i += 2) {
        DWORD failure = ERROR_SUCCESS;
        const CStr* failedName = nullptr;
        bool copied = false;
        for (size_t j = i; j < i + 2 && j < m_vStageFiles.size(); ++j) {
            const CStr& name = m_vStageFiles[j];
            DWORD error = ERROR_SUCCESS;
            // Files come from the current directory unless a package folder
            // was named.
            bool sourceFits = m_strPackageFolder.IsEmpty()
                                  ? CopyIfFits(source, MAX_PATH, name.GetString())
                                  : JoinRelativePath(source, m_strPackageFolder.GetString(), name.GetString());
            if (!sourceFits || !JoinRelativePath(target, folder, name.GetString())) {
                error = ERROR_FILENAME_EXCED_RANGE;
            } else {
                error = StageFile(name.GetString(), source, folder, target);
                // The same name in other letters was staged already: the
                // file system holds one file for both.
                if (error == ERROR_FILE_EXISTS && IsListedNoCase(m_vStagedFiles, name.GetString()))
                    error = ERROR_SUCCESS;
                if (error == ERROR_SUCCESS)
                    m_vStagedFiles.push_back(name);
            }
            if (error == ERROR_SUCCESS) {
                copied = true;
                continue;
            }
            result = 0;
            if (failedName == nullptr && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
                failure = error;
                failedName = &name;
            }
        }
        if (!copied && failedName != nullptr)
            AddFailure(FormatWide(L"Staging copy failed: %s, error %s", failedName->GetString(),
                       DescribeError(failure).GetString()));
    }
    return result;
}

bool CWin2000PnPDriver::WasStaged(const wchar_t* fileName) const
{
    return IsListedNoCase(m_vStagedFiles, fileName);
}

CStrList CWin2000PnPDriver::FindMissingPackageFiles(const wchar_t* stagedInf) const
{
    // The update reads the INF under its own name.
    CStrList missing;
    bool infStaged = false;
    for (const CStr& staged : m_vStagedFiles)
        infStaged = infStaged || staged.Equals(m_strInfName.GetString());
    if (!infStaged) {
        missing.push_back(m_strInfName);
        return missing;
    }
    CUniqueInf inf(SetupOpenInfFileW(stagedInf, nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf.valid())
        return missing;
    PACKAGECHECK check;
    CStrList checked = m_vHardwareIds;
    checked.insert(checked.end(), m_vCheckedOnlyIds.begin(), m_vCheckedOnlyIds.end());
    CheckDriverPackageFiles(inf.get(), checked,
                            [this](const wchar_t* relativePath) { return WasStaged(relativePath); }, &check);
    // A name that is not plain was refused before staging; should one come
    // through, it blocks the update all the same.
    missing = check.missing;
    missing.insert(missing.end(), check.unsafe.begin(), check.unsafe.end());
    return missing;
}

int CWin2000PnPDriver::StagePackage(wchar_t (&infPath)[MAX_PATH], bool* infPathFits)
{
    // Nothing is staged into a folder that others could change: they could
    // swap a staged file before the update reads it.
    CStr folder = GetStagingFolder();
    if (!folder.IsEmpty() && !PrepareStagingFolder(folder.GetString())) {
        AddFailure(FormatWide(L"Staging folder not trusted: %s", folder.GetString()));
        return PNP_INSTALL_UNSAFE_STAGING;
    }
    CopyStageFiles(folder.IsEmpty() ? nullptr : folder.GetString());
    if (!m_vUnsafeNames.empty()) {
        for (const CStr& name : m_vUnsafeNames)
            AddFailure(UnsafeFileNameText(name.GetString()));
        return PNP_INSTALL_INCOMPLETE;
    }

    *infPathFits = !folder.IsEmpty() && JoinPath(infPath, folder.GetString(), m_strInfName.GetString());

    // No update is started for a package that lacks a file the update would
    // copy: the platform would either refuse the package or (Wine) retry the
    // copy without end; and a file an earlier install left in the staging
    // folder must not stand in for it.
    if (*infPathFits) {
        CStrList missing = FindMissingPackageFiles(infPath);
        if (!missing.empty()) {
            for (const CStr& file : missing)
                AddFailure(FormatWide(L"Package file missing: %s", file.GetString()));
            ReleaseStagedFiles();
            return PNP_INSTALL_INCOMPLETE;
        }
    }
    return PNP_INSTALL_DONE;
}

int CWin2000PnPDriver::InstallDrivers()
{
    if (m_vHardwareIds.empty())
        return PNP_INSTALL_NO_DEVICES;

    wchar_t libraryPath[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(libraryPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return PNP_INSTALL_NO_LIBRARY;
    CStr systemDirectory(libraryPath);
    if (!JoinPath(libraryPath, systemDirectory.GetString(), L"newdev.dll"))
        return PNP_INSTALL_NO_LIBRARY;

    CNewDevLibrary platform;
    INewDevLibrary* library = GetNewDevLibraryOverride();
    if (library == nullptr)
        library = &platform;

    int loaded = 0;
    DWORD loadError = ERROR_SUCCESS;
    {
        CErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
        loaded = library->Load(libraryPath);
        loadError = GetLastError();
    }
    if (!loaded) {
        AddFailure(FormatWide(L"Device installation library not loaded: %s, error %s", libraryPath,
                   DescribeError(loadError).GetString()));
        return PNP_INSTALL_NO_LIBRARY;
    }
    if (!library->FindUpdateFunction()) {
        DWORD error = GetLastError();
        AddFailure(FormatWide(L"Driver update function not found: UpdateDriverForPlugAndPlayDevicesW in %s, error %s",
                   libraryPath, DescribeError(error).GetString()));
        library->Free();
        return PNP_INSTALL_NO_FUNCTION;
    }

    wchar_t infPath[MAX_PATH] = {};
    bool infPathFits = false;
    int staged = StagePackage(infPath, &infPathFits);
    if (staged != PNP_INSTALL_DONE) {
        library->Free();
        return staged;
    }

    // What the updates will change is recorded before the first of them.
    if (infPathFits && m_beforeUpdates && !m_beforeUpdates(infPath)) {
        library->Free();
        ReleaseStagedFiles();
        return PNP_INSTALL_NOT_RECORDED;
    }

    int ok = 1;
    wchar_t hardwareId[kHardwareIdChars];
    for (const CStr& id : m_vHardwareIds) {
        // A device that cannot be handed to the update function (an ID or
        // INF path too long for its buffer) counts as a failed update.
        UPDATEOUTCOME outcome = {id, 0, ERROR_SUCCESS, 0};
        if (!infPathFits) {
            outcome.error = ERROR_FILENAME_EXCED_RANGE;
        } else if (!CopyIfFits(hardwareId, kHardwareIdChars, id.GetString())) {
            outcome.error = ERROR_INVALID_PARAMETER;
        } else {
            BOOL restart = FALSE;
            SetLastError(ERROR_SUCCESS);
            outcome.updated = (ZOL_CHANGE_POINT("UpdateDriverForPlugAndPlayDevicesW", hardwareId),
                               library->UpdateDriver(hardwareId, infPath, static_cast<DWORD>(m_bForce), &restart))
                                  ? 1
                                  : 0;
            if (!outcome.updated)
                outcome.error = GetLastError();
            outcome.restart = restart ? 1 : 0;
            if (restart)
                m_bReboot = 1;
        }
        m_vOutcomes.push_back(outcome);
        if (outcome.updated)
            continue;
        ok = 0;
        AddFailure(FormatWide(L"Driver update failed: %s, error %s", id.GetString(),
                              DescribeError(outcome.error).GetString()));
    }
    library->Free();
    ReleaseStagedFiles();
    return ok ? PNP_INSTALL_DONE : PNP_INSTALL_UPDATE_FAILED;
}
