// CInf journal hooks: before an install changes anything, what the change
// creates or replaces is told to the journal its owner set (see
// inf/infjournal.h). Files, folders, services with their event-log entries,
// the registry keys and values of "AddReg" lines, root devices and shortcuts
// are told as they are about to be made; what is there already is not told
// as created. And the INF's own uninstall section.
#include "inf/inf.h"

#include <cfgmgr32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "inf/infdriverfootprint.h"
#include "inf/infjournal.h"
#include "inf/infplatform.h"
#include "inf/infutil.h"
#include "inf/servicecontrol.h"
#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/errortext.h"
#include "support/handles.h"
#include "support/wformat.h"

namespace {

// Limits of the "AddReg" and "AddService" reads; a longer field is one the
// platform would not take either, and its line is not told.
const size_t kSectionNameChars = 512;
const size_t kRootNameChars = 32;
const size_t kRegistryPathChars = 4096;
const size_t kServiceNameChars = 255;

// "AddReg" flags: lines that delete, lines that make the key only, lines
// that change a value only when it is there, and lines for the other
// registry view (not told: the record reads the natural view).
const int kDeletes = FLG_ADDREG_DELVAL | FLG_ADDREG_DELREG_BIT;
const int kKeyOnly = FLG_ADDREG_KEYONLY | FLG_ADDREG_KEYONLY_COMMON;
const int kOverwriteOnly = FLG_ADDREG_OVERWRITEONLY;
const int kOtherView = FLG_ADDREG_32BITKEY;

// The registry section an "AddService" line names for the service's event
// log, and the log it goes to when the line names none.
const DWORD kEventLogSectionField = 4;
const DWORD kEventLogTypeField = 5;
const DWORD kEventLogNameField = 6;
const wchar_t kDefaultEventLog[] = L"System";

bool PathExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(HKEY root, const std::wstring& key)
{
    CUniqueRegKey opened;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::wstring& key, const wchar_t* value)
{
    CUniqueRegKey opened;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) == ERROR_SUCCESS &&
           RegQueryValueExW(opened.get(), value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::wstring JoinKey(const std::wstring& key, const std::wstring& sub)
{
    if (key.empty())
        return sub;
    if (sub.empty())
        return key;
    return key + L"\\" + sub;
}

// A name the INF gives for a service or an event log: never a path.
bool IsSingleName(const CStr& name)
{
    return !name.IsEmpty() && name.Find(L"\\") < 0 && name.Find(L"/") < 0;
}

} // namespace

HKEY InfRegistryRoot(const wchar_t* name, const wchar_t** shortName)
{
    static const struct {
        const wchar_t* shortName;
        const wchar_t* longName;
        HKEY root;
    } roots[] = {{L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                 {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                 {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                 {L"HKU", L"HKEY_USERS", HKEY_USERS}};
    for (const auto& root : roots) {
        if (name != nullptr && (EqualsAsciiNoCase(name, root.shortName) || EqualsAsciiNoCase(name, root.longName))) {
            if (shortName)
                *shortName = root.shortName;
            return root.root;
        }
    }
    return nullptr;
}

int CInf::Journal(bool told)
{
    if (told)
        return 1;
    if (!m_bJournalStopped)
        AddFailure(m_pJournal->Failure().GetString());
    m_bJournalStopped = 1;
    return 0;
}

int CInf::NoteFileChange(const CStr& path, bool keepsExisting)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr || (keepsExisting && PathExists(path.GetString())))
        return 1;
    return Journal(m_pJournal->FileChanging(path.GetString()));
}

int CInf::NoteFileRemoval(const CStr& path)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr || !PathExists(path.GetString()))
        return 1;
    return Journal(m_pJournal->FileChanging(path.GetString()));
}

int CInf::NoteFolders(const wchar_t* directory)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr || directory == nullptr)
        return 1;
    // The missing levels, from the deepest up to the first one there.
    std::wstring level(directory);
    while (!level.empty() && (level.back() == L'\\' || level.back() == L'/'))
        level.pop_back();
    std::vector<std::wstring> missing;
    while (!level.empty() && !PathExists(level.c_str())) {
        missing.push_back(level);
        size_t cut = level.find_last_of(L"\\/");
        if (cut == std::wstring::npos || level[cut - (cut > 0 ? 1 : 0)] == L':')
            break; // a drive's root is never made
        level.erase(cut);
    }
    // Told from the top down: taken back in reverse, the deepest goes first.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!Journal(m_pJournal->FolderCreating(it->c_str())))
            return 0;
    }
    return 1;
}

int CInf::NoteRegistryTarget(const wchar_t* rootName, const std::wstring& key, const wchar_t* value, size_t told)
{
    HKEY root = InfRegistryRoot(rootName, nullptr);
    if (root == nullptr || key.empty())
        return 1;
    bool under = false; // below a level that is not there, nothing is
    for (size_t end = 0; end != std::wstring::npos;) {
        end = key.find(L'\\', end + 1);
        std::wstring level = key.substr(0, end);
        if (under || !KeyExists(root, level)) {
            under = true;
            if (level.size() > told && !Journal(m_pJournal->RegistryCreating(rootName, level.c_str(), nullptr)))
                return 0;
        }
    }
    if (value != nullptr && (under || !ValueExists(root, key, value)))
        return Journal(m_pJournal->RegistryCreating(rootName, key.c_str(), value));
    return 1;
}

int CInf::NoteRegistry(const wchar_t* section, const wchar_t* rootName, const wchar_t* relativeKey)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr || section == nullptr || !m_hInf.valid())
        return 1;
    // HKR's own key first; the lines below it do not tell it again.
    const std::wstring relative(relativeKey ? relativeKey : L"");
    if (!NoteRegistryTarget(rootName, relative, nullptr, 0))
        return 0;

    INFCONTEXT directive;
    if (!SetupFindFirstLineW(m_hInf.get(), section, L"AddReg", &directive))
        return 1;
    do {
        for (DWORD i = 1; i <= SetupGetFieldCount(&directive); ++i) {
            CStr list;
            INFCONTEXT line;
            if (!infutil::ReadStringField(&directive, i, kSectionNameChars, &list) ||
                !SetupFindFirstLineW(m_hInf.get(), list.GetString(), nullptr, &line))
                continue;
            do {
                CStr rootText, subkey, value;
                int flags = 0;
                const DWORD fields = SetupGetFieldCount(&line);
                if (!infutil::ReadStringField(&line, 1, kRootNameChars, &rootText) ||
                    (fields >= 2 && !infutil::ReadStringField(&line, 2, kRegistryPathChars, &subkey)) ||
                    (fields >= 3 && !infutil::ReadStringField(&line, 3, kRegistryPathChars, &value)))
                    continue;
                infutil::ReadIntField(&line, 4, &flags);
                if ((flags & kDeletes) || (flags & kOtherView))
                    continue;
                const wchar_t* root = nullptr;
                std::wstring key;
                size_t told = 0;
                if (EqualsAsciiNoCase(rootText.GetString(), L"HKR")) {
                    root = rootName;
                    key = JoinKey(relative, subkey.GetString());
                    told = relative.size();
                } else if (InfRegistryRoot(rootText.GetString(), &root) != nullptr) {
                    key = subkey.GetString();
                } else {
                    continue;
                }
                bool keyOnly = (flags & kKeyOnly) || fields < 3;
                const wchar_t* name = keyOnly || (flags & kOverwriteOnly) ? nullptr : value.GetString();
                if (!NoteRegistryTarget(root, key, name, told))
                    return 0;
            } while (SetupFindNextLine(&line, &line));
        }
    } while (SetupFindNextMatchLineW(&directive, L"AddReg", &directive));
    return 1;
}

int CInf::NoteServices(const wchar_t* section)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr || section == nullptr || !m_hInf.valid())
        return 1;
    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), section, L"AddService", &context))
        return 1;
    do {
        CStr name;
        if (!infutil::ReadStringField(&context, 1, kServiceNameChars, &name) || !IsSingleName(name))
            continue;
        if (!CServiceControl(name.GetString()).ServiceExists() &&
            !Journal(m_pJournal->ServiceCreating(name.GetString())))
            return 0;
        // The event-log entry: HKR of its registry section is the source's
        // key in the log it names.
        CStr eventSection, log(kDefaultEventLog), source(name);
        if (!infutil::ReadStringField(&context, kEventLogSectionField, kSectionNameChars, &eventSection) ||
            eventSection.IsEmpty())
            continue;
        CStr text;
        if (infutil::ReadStringField(&context, kEventLogTypeField, kServiceNameChars, &text) && !text.IsEmpty())
            log = text;
        if (infutil::ReadStringField(&context, kEventLogNameField, kServiceNameChars, &text) && !text.IsEmpty())
            source = text;
        if (!IsSingleName(log) || !IsSingleName(source))
            continue;
        std::wstring key = FormatWide(L"System\\CurrentControlSet\\Services\\EventLog\\%s\\%s", log.GetString(),
                                      source.GetString());
        if (!NoteRegistry(eventSection.GetString(), L"HKLM", key.c_str()))
            return 0;
    } while (SetupFindNextMatchLineW(&context, L"AddService", &context));
    return 1;
}

int CInf::NoteDriverInstall(const CStrList& hardwareIds)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr)
        return 1;
    DRIVERFOOTPRINT footprint;
    ReadDriverFootprint(m_strInfPath.GetString(), hardwareIds, &footprint);
    for (const CStr& file : footprint.files) {
        if (!NoteFileChange(file, false))
            return 0;
    }
    for (const CStr& service : footprint.services) {
        if (!CServiceControl(service.GetString()).ServiceExists() &&
            !Journal(m_pJournal->ServiceCreating(service.GetString())))
            return 0;
    }
    return 1;
}

int CInf::NoteRootDevice(HDEVINFO set, SP_DEVINFO_DATA* element)
{
    if (m_bJournalStopped)
        return 0;
    if (m_pJournal == nullptr)
        return 1;
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, element, id, MAX_DEVICE_ID_LEN, nullptr)) {
        DWORD error = GetLastError();
        AddFailure(FormatWide(L"Root device not created: its instance ID is unknown, error %s",
                              DescribeError(error).GetString()));
        return 0;
    }
    return Journal(m_pJournal->RootDeviceCreating(id));
}

int CInf::NoteShortcut(const wchar_t* folder, const wchar_t* path)
{
    if (!NoteFolders(folder))
        return 0;
    if (m_pJournal == nullptr)
        return 1;
    return Journal(m_pJournal->ShortcutCreating(path));
}

bool CInf::HasSection(const wchar_t* section)
{
    if (section == nullptr || !m_hInf.valid())
        return false;
    for (const CStr& name : ReadSectionNames()) {
        if (name.CompareNoCase(section) == 0)
            return true;
    }
    return false;
}

int CInf::RunUninstallSection(const wchar_t* section, int* pRebootNeeded)
{
    if (pRebootNeeded)
        *pRebootNeeded = 0;
    if (section == nullptr || !m_hInf.valid())
        return 0;

    // The file lines need destination directories only when there are any.
    INFCONTEXT context;
    int result = 1;
    if (SetupFindFirstLineW(m_hInf.get(), section, L"DelFiles", &context) && !ProcessDelFiles(section))
        result = 0;
    if (SetupFindFirstLineW(m_hInf.get(), section, L"RenFiles", &context) && !ProcessRenFiles(section))
        result = 0;
    if (!(ZOL_CHANGE_POINT("SetupInstallFromInfSectionW", section),
          SetupInstallFromInfSectionW(nullptr, m_hInf.get(), section,
                                      SPINST_REGISTRY | SPINST_INIFILES | SPINST_INI2REG, HKEY_LOCAL_MACHINE, nullptr,
                                      0, nullptr, nullptr, nullptr, nullptr))) {
        DWORD error = GetLastError();
        AddFailure(FormatWide(L"Section install failed: %s, error %s", section, DescribeError(error).GetString()));
        result = 0;
    }
    CStr services(section);
    services += L".Services";
    if (HasSection(services.GetString()) &&
        !(ZOL_CHANGE_POINT("SetupInstallServicesFromInfSectionW", services.GetString()),
          InfPlatform().pInstallServicesFromInfSection(m_hInf.get(), services.GetString(), 0))) {
        DWORD error = GetLastError();
        AddFailure(FormatWide(L"Service install failed: %s, error %s", services.GetString(),
                              DescribeError(error).GetString()));
        result = 0;
    }
    if (result && m_bRebootNeeded && pRebootNeeded)
        *pRebootNeeded = 1;
    return result;
}
