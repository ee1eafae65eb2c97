#include "devices/pnpdriver.h"

#include "basecomp.h"
#include "devices/newdevlibrary.h"
#include "support/handles.h"
#include "support/wformat.h"

#include <wchar.h>

#include <vector>

namespace {

// Hardware IDs are at most 255 characters.
const size_t kHardwareIdChars = 256;
const DWORD kCatalogFieldChars = MAX_PATH;
const DWORD kCopyFilesFieldChars = 4096;
const DWORD kSectionNamesChars = 4096;
const DWORD kFileListFieldChars = MAX_PATH;

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

// "<a>\<b>" into a buffer of MAX_PATH characters; false when it does not fit.
bool JoinPath(wchar_t* buffer, const wchar_t* directory, const wchar_t* name)
{
    return FormatWideBuffer(buffer, MAX_PATH, L"%s\\%s", directory, name);
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

int CWin2000PnPDriver::AddStageFile(const wchar_t* fileName)
{
    if (fileName == nullptr || *fileName == L'\0' || IsListed(m_vStageFiles, fileName))
        return 1;
    m_vStageFiles.push_back(CStr(fileName));
    m_vStageFiles.push_back(GetCompressedName(fileName));
    return 1;
}

CStr CWin2000PnPDriver::GetCompressedName(const wchar_t* fileName)
{
    if (fileName == nullptr)
        return CStr();
    CStr name(fileName);
    const wchar_t* dot = wcsrchr(fileName, L'.');
    if (dot == nullptr) {
        name += L"._";
    } else if (wcslen(dot) >= 4) {
        wchar_t* buffer = name.GetBuffer(0);
        buffer[name.GetLength() - 1] = L'_';
        name.ReleaseBuffer(0);
    } else {
        name += L"_";
    }
    return name;
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

void CWin2000PnPDriver::CollectFileListSection(HINF inf, const wchar_t* section)
{
    wchar_t field[kFileListFieldChars];
    INFCONTEXT context;
    if (!SetupFindFirstLineW(inf, section, nullptr, &context))
        return;
    do {
        DWORD count = SetupGetFieldCount(&context);
        // The source name (field 2) wins over the destination name (field 1).
        // A source name too long to read stages nothing rather than the
        // wrong file.
        if (count >= 2) {
            if (!GetField(&context, 2, field, kFileListFieldChars))
                continue;
            if (field[0] != L'\0') {
                AddStageFile(field);
                continue;
            }
        }
        if (count >= 1 && GetField(&context, 1, field, kFileListFieldChars) && field[0] != L'\0')
            AddStageFile(field);
    } while (SetupFindNextLine(&context, &context));
}

void CWin2000PnPDriver::CollectCopyFiles(HINF inf, const wchar_t* infPath)
{
    // Section names as the profile functions see the file. When they do not
    // all fit, the last name in the buffer may be cut: it is dropped rather
    // than looked up under a wrong name.
    std::vector<wchar_t> names(kSectionNamesChars + 2, L'\0');
    DWORD length = GetPrivateProfileSectionNamesW(names.data(), kSectionNamesChars, infPath);
    bool cut = length >= kSectionNamesChars - 2;

    CStrList sections;
    for (const wchar_t* name = names.data(); *name; name += wcslen(name) + 1) {
        const wchar_t* next = name + wcslen(name) + 1;
        if (cut && *next == L'\0')
            break;
        INFCONTEXT context;
        if (SetupFindFirstLineW(inf, name, L"CopyFiles", &context))
            sections.push_back(CStr(name));
    }

    CStrList fileLists;
    std::vector<wchar_t> field(kCopyFilesFieldChars);
    for (const CStr& section : sections) {
        INFCONTEXT context;
        if (!SetupFindFirstLineW(inf, section.GetString(), L"CopyFiles", &context))
            continue;
        do {
            DWORD count = SetupGetFieldCount(&context);
            for (DWORD index = 1; index <= count; ++index) {
                if (!GetField(&context, index, field.data(), kCopyFilesFieldChars))
                    continue;
                if (field[0] == L'@')
                    AddStageFile(field.data() + 1);
                else if (SetupGetLineCountW(inf, field.data()) > 0)
                    fileLists.push_back(CStr(field.data()));
            }
        } while (SetupFindNextMatchLineW(&context, L"CopyFiles", &context));
    }

    for (const CStr& section : fileLists)
        CollectFileListSection(inf, section.GetString());
}

int CWin2000PnPDriver::StageDriverFiles(const wchar_t* folder)
{
    AddStageFile(m_strInfName.GetString());

    // The INF is read from the component's own directory. An INF that cannot
    // be opened stages only itself (and its compressed name).
    wchar_t infPath[MAX_PATH] = {};
    CStr componentDirectory = GetComponentDirectory();
    CUniqueInf inf;
    if (!componentDirectory.IsEmpty() && !m_strInfName.IsEmpty() &&
        JoinPath(infPath, componentDirectory.GetString(), m_strInfName.GetString()))
        inf.reset(SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (inf.valid()) {
        CollectCatalogFiles(inf.get());
        CollectCopyFiles(inf.get(), infPath);
    }

    if (folder == nullptr || *folder == L'\0')
        return 0;

    // The folder above the staging folder is normally there already (the
    // log creates it); it is created here too so staging never depends on
    // the log having opened.
    CStr parent(folder);
    const wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash && slash != folder) {
        parent = CStr(folder).Mid(0, static_cast<size_t>(slash - folder));
        CreateDirectoryW(parent.GetString(), nullptr);
    }
    CreateDirectoryW(folder, nullptr);

    int result = 1;
    wchar_t target[MAX_PATH];
    for (const CStr& name : m_vStageFiles) {
        if (!JoinPath(target, folder, name.GetString())) {
            result = 0;
            continue;
        }
        SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
        if (!CopyFileW(name.GetString(), target, FALSE))
            result = 0;
    }
    return result;
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
    {
        CErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
        loaded = library->Load(libraryPath);
    }
    if (!loaded)
        return PNP_INSTALL_NO_LIBRARY;
    if (!library->FindUpdateFunction()) {
        library->Free();
        return PNP_INSTALL_NO_FUNCTION;
    }

    CStr folder = GetStagingFolder();
    StageDriverFiles(folder.GetString());

    wchar_t infPath[MAX_PATH] = {};
    bool infPathFits = !folder.IsEmpty() && JoinPath(infPath, folder.GetString(), m_strInfName.GetString());

    int ok = 1;
    BOOL restart = FALSE;
    wchar_t hardwareId[kHardwareIdChars];
    for (const CStr& id : m_vHardwareIds) {
        // A device that cannot be handed to the update function (an ID or
        // INF path too long for its buffer) counts as a failed update.
        if (!infPathFits || !CopyIfFits(hardwareId, kHardwareIdChars, id.GetString())) {
            ok = 0;
            continue;
        }
        BOOL updated = library->UpdateDriver(hardwareId, infPath, static_cast<DWORD>(m_bForce), &restart);
        if (restart)
            m_bReboot = 1;
        if (!updated)
            ok = 0;
    }
    library->Free();
    return ok ? PNP_INSTALL_DONE : PNP_INSTALL_UPDATE_FAILED;
}
