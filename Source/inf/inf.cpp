// CInf: construction, the "Version" section, the section lists and the
// destination directories.
#include "inf/inf.h"

#include <cwchar>
#include <vector>

#include "inf/infutil.h"
#include "support/plainname.h"
#include "support/wformat.h"

namespace {

// Buffer of the "Version" line reads.
const size_t kVersionTextChars = 4096 - 1;
// Limits of the "DestinationDirs" reads: a text piece and a line's key.
const size_t kDirPieceChars = 260;
const size_t kDirKeyChars = 512;
// The service-install section named by an "AddService" line.
const size_t kServiceSectionChars = 255;

const wchar_t kVersion[] = L"Version";
const wchar_t kDestinationDirs[] = L"DestinationDirs";
const wchar_t kDefaultDestDir[] = L"DefaultDestDir";

} // namespace

CInf::CInf(const wchar_t* path)
    : m_bVirtual(0), m_bRebootNeeded(0), m_bPackageIncomplete(0), m_pJournal(nullptr), m_bJournalStopped(0)
{
    if (path != nullptr && path[0] != L'\0') {
        wchar_t full[MAX_PATH] = {};
        wchar_t* filePart = nullptr;
        DWORD len = GetFullPathNameW(path, MAX_PATH, full, &filePart);
        // The result counts the terminator only when the buffer was too small.
        if (len != 0 && len < MAX_PATH)
            m_strInfPath = full;
    }
    m_strInfDir = infutil::DirectoryPart(m_strInfPath.GetString());

    if (!m_strInfPath.IsEmpty()) {
        UINT errorLine = 0;
        m_hInf.reset(SetupOpenInfFileW(m_strInfPath.GetString(), nullptr, INF_STYLE_WIN4, &errorLine));
    }
    ReadVersion();
}

CInf::~CInf()
{
    // m_hInf closes the INF exactly once.
}

int CInf::IsOpen()
{
    return m_hInf.valid() ? 1 : 0;
}

const wchar_t* CInf::GetSignature()
{
    return m_strSignature.IsEmpty() ? nullptr : m_strSignature.GetString();
}

const wchar_t* CInf::GetClass()
{
    return m_strClass.IsEmpty() ? nullptr : m_strClass.GetString();
}

const wchar_t* CInf::GetClassGuid()
{
    return m_strClassGuid.IsEmpty() ? nullptr : m_strClassGuid.GetString();
}

int CInf::ReadVersion()
{
    if (!m_hInf.valid())
        return 0;

    HINF hInf = m_hInf.get();
    int all = 0;
    if (infutil::ReadLineText(hInf, kVersion, L"Signature", kVersionTextChars, &m_strSignature) &&
        infutil::ReadLineText(hInf, kVersion, L"Class", kVersionTextChars, &m_strClass) &&
        infutil::ReadLineText(hInf, kVersion, L"ClassGUID", kVersionTextChars, &m_strClassGuid))
        all = 1;

    CollectCopyFilesSections();
    CollectAddServiceSections();
    CollectSoftwareSettingsSections();
    return all;
}

CStrList CInf::ReadSectionNames()
{
    return infutil::ReadSectionNames(m_strInfPath.GetString());
}

void CInf::CollectCopyFilesSections()
{
    if (!m_hInf.valid())
        return;
    CStrList names = ReadSectionNames();
    for (const CStr& name : names) {
        INFCONTEXT context;
        if (SetupFindFirstLineW(m_hInf.get(), name.GetString(), L"CopyFiles", &context))
            m_vCopyFilesSections.push_back(name);
    }
}

void CInf::CollectAddServiceSections()
{
    if (!m_hInf.valid())
        return;
    CStrList names = ReadSectionNames();
    for (const CStr& name : names) {
        INFCONTEXT context;
        if (SetupFindFirstLineW(m_hInf.get(), name.GetString(), L"AddService", &context))
            m_vAddServiceSections.push_back(name);
    }
}

void CInf::CollectSoftwareSettingsSections()
{
    if (!m_hInf.valid())
        return;
    CStrList names = ReadSectionNames();
    for (const CStr& name : names) {
        if (name.FindNoCase(L".SoftwareSettings") >= 0)
            m_vSoftwareSettingsSections.push_back(name);
    }
}

int CInf::GetServiceName(const wchar_t* section, wchar_t* buffer, int capacity)
{
    if (buffer == nullptr || capacity <= 0)
        return 0;
    buffer[0] = L'\0';
    if (!m_hInf.valid())
        return 0;

    const wchar_t* searched = section;
    if (searched == nullptr) {
        if (m_vAddServiceSections.empty())
            return 0;
        searched = m_vAddServiceSections.front().GetString();
    }

    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), searched, L"AddService", &context))
        return 0;
    if (!SetupGetStringFieldW(&context, 1, buffer, static_cast<DWORD>(capacity), nullptr)) {
        buffer[0] = L'\0';
        return 0;
    }
    return 1;
}

int CInf::GetServiceStartType(const wchar_t* section, int* pStartType)
{
    if (pStartType == nullptr || !m_hInf.valid())
        return 0;

    const wchar_t* searched = section;
    if (searched == nullptr) {
        if (m_vAddServiceSections.empty())
            return 0;
        searched = m_vAddServiceSections.front().GetString();
    }

    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), searched, L"AddService", &context))
        return 0;
    CStr installSection;
    if (!infutil::ReadStringField(&context, 3, kServiceSectionChars, &installSection))
        return 0;
    INFCONTEXT startContext;
    if (!SetupFindFirstLineW(m_hInf.get(), installSection.GetString(), L"StartType", &startContext))
        return 0;
    int value = 0;
    if (!infutil::ReadIntField(&startContext, 1, &value))
        return 0;
    *pStartType = value;
    return 1;
}

int CInf::ReadDestinationDirs()
{
    if (!m_vDestinationDirs.empty())
        return 1;
    if (!m_hInf.valid())
        return 0;

    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), kDestinationDirs, nullptr, &context))
        return 0;

    do {
        // A line is usable only when every field resolves: a directory id
        // that gives no directory, or a text longer than its limit, would
        // otherwise leave a relative or wrong directory behind.
        bool usable = true;
        // A line is refused when a text names no folder of its own: the
        // first field a full folder path on a drive, every later one a
        // subfolder without a drive, "." or ".." part (a directory id after
        // the first field brings a drive along). Its key is kept with no
        // directory, so that its lists fail rather than go elsewhere.
        bool refused = false;
        CStr directory;
        DWORD count = SetupGetFieldCount(&context);
        for (DWORD i = 1; i <= count && usable && !refused; ++i) {
            CStr piece;
            int id = 0;
            if (infutil::ReadIntField(&context, i, &id)) {
                GetDirIdPath(id, &piece);
                if (piece.IsEmpty())
                    usable = false;
                else if (i > 1)
                    refused = true;
            } else if (!infutil::ReadStringField(&context, i, kDirPieceChars, &piece)) {
                usable = false;
            } else {
                refused = i == 1 ? !IsFullFolderPath(piece.GetString()) : !IsRelativeSubfolder(piece.GetString());
            }
            if (!usable)
                break;
            CStr joined = i == 1 ? piece : infutil::JoinPath(directory.GetString(), piece.GetString());
            if (!refused && i > 1 && !StaysInsideFolder(directory.GetString(), joined.GetString()))
                refused = true;
            if (refused)
                AddFailure(FormatWide(L"Unsafe folder name in package: %s", piece.GetString()));
            directory = refused ? CStr() : joined;
        }
        if (!usable || (!refused && directory.IsEmpty()))
            continue;
        CStr key;
        if (!infutil::ReadStringField(&context, 0, kDirKeyChars, &key))
            continue;
        m_vDestinationDirs.push_back(key);
        m_vDestinationDirs.push_back(directory);
    } while (SetupFindNextLine(&context, &context));

    return m_vDestinationDirs.empty() ? 0 : 1;
}

int CInf::GetDestinationDir(const wchar_t* section, CStr* pDirectory)
{
    if (pDirectory == nullptr)
        return 0;
    pDirectory->Empty();

    // A refused line holds no directory: the lists it routes have none.
    size_t pairs = m_vDestinationDirs.size() / 2;
    if (pairs == 1) {
        *pDirectory = m_vDestinationDirs[1];
        return pDirectory->IsEmpty() ? 0 : 1;
    }
    if (section != nullptr) {
        for (size_t i = 0; i + 1 < m_vDestinationDirs.size(); i += 2) {
            if (m_vDestinationDirs[i].Equals(section)) {
                *pDirectory = m_vDestinationDirs[i + 1];
                return pDirectory->IsEmpty() ? 0 : 1;
            }
        }
    }
    for (size_t i = 0; i + 1 < m_vDestinationDirs.size(); i += 2) {
        if (m_vDestinationDirs[i].Equals(kDefaultDestDir)) {
            *pDirectory = m_vDestinationDirs[i + 1];
            return pDirectory->IsEmpty() ? 0 : 1;
        }
    }
    return 0;
}

CStr* CInf::GetDirIdPath(int id, CStr* pDirectory)
{
    if (pDirectory == nullptr)
        return nullptr;
    pDirectory->Empty();

    const wchar_t* variable = nullptr;
    const wchar_t* suffix = L"";
    switch (id) {
    case DIRID_WINDOWS: variable = L"SystemRoot"; break;
    case DIRID_SYSTEM: variable = L"SystemRoot"; suffix = L"\\system32"; break;
    case DIRID_DRIVERS: variable = L"SystemRoot"; suffix = L"\\system32\\drivers"; break;
    case DIRID_INF: variable = L"SystemRoot"; suffix = L"\\inf"; break;
    case DIRID_HELP: variable = L"SystemRoot"; suffix = L"\\help"; break;
    case DIRID_FONTS: variable = L"SystemRoot"; suffix = L"\\fonts"; break;
    case DIRID_APPS: variable = L"SystemDrive"; break;
    case DIRID_SYSTEM16: variable = L"SystemRoot"; suffix = L"\\system"; break;
    case DIRID_COMMON_STARTMENU: variable = L"ALLUSERSPROFILE"; break;
    case DIRID_COMMON_PROGRAMS: variable = L"ALLUSERSPROFILE"; suffix = L"\\Start Menu\\Programs"; break;
    case DIRID_COMMON_STARTUP: variable = L"ALLUSERSPROFILE"; suffix = L"\\Start Menu\\Programs\\Startup"; break;
    case DIRID_COMMON_DESKTOPDIRECTORY: variable = L"ALLUSERSPROFILE"; suffix = L"\\Desktop"; break;
    case DIRID_COMMON_FAVORITES: variable = L"ALLUSERSPROFILE"; suffix = L"\\Favorites"; break;
    case DIRID_COMMON_APPDATA: variable = L"ALLUSERSPROFILE"; suffix = L"\\Application Data"; break;
    case DIRID_PROGRAM_FILES: variable = L"ProgramFiles"; break;
    case DIRID_PROGRAM_FILES_COMMON: variable = L"ProgramFiles"; suffix = L"\\Common"; break;
    default: return pDirectory;
    }

    // An unset or empty variable gives no directory at all, never the bare
    // suffix: "\system32" alone would name a folder on the current drive.
    CStr value;
    if (!infutil::GetEnvironmentValue(variable, &value))
        return pDirectory;
    *pDirectory = value;
    pDirectory->Append(suffix);
    return pDirectory;
}
