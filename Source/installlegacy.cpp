// Legacy and virtual installation over the package's INF file, and the probe
// that tells whether an installed service drives every supported device that
// is present.
#include "basecomp.h"
#include "devices/devicedrivers.h"
#include "inf/inf.h"
#include "inf/infutil.h"
#include "installjournal.h"
#include "installrecord.h"
#include "messages.h"
#include "packagefiles.h"
#include "support/errortext.h"
#include "support/registrykey.h"
#include "support/wformat.h"

namespace {

// Before the first change: the record's values, the INF kept in the
// record's folder (Uninstall reads it from there: the INF that was
// installed, in a folder only administrators can write), and the version
// this one replaces. False, with a failure line, when any of it cannot be
// written.
bool BeginInfRecord(CInstallRecord& record, CInf& inf, int isVirtual, const CStr& infFile, const CStr& section,
                    const wchar_t* name, const wchar_t* version, CCmpLog* log, CStrList* failures)
{
    if (!record.Create() || !record.SetState(RECORD_STATE_INSTALLING) ||
        !record.WriteValue(RECORD_INF_NAME, infFile.GetString()) ||
        !record.WriteValue(RECORD_INF_TYPE, isVirtual ? L"VIRTUAL" : L"LEGACY") ||
        !record.WriteValue(RECORD_VERSION, version) || !record.WriteValue(RECORD_PACKAGE_NAME, name) ||
        (!section.IsEmpty() && !record.WriteValue(RECORD_SECTION, section.GetString()))) {
        failures->push_back(CStr(FormatWide(L"Install record not written: %s, its values, error %s",
                                            record.Key().GetString(), DescribeError(record.LastError()).GetString())
                                     .c_str()));
        return false;
    }
    const wchar_t* infName = inf.GetInfPath().GetString() + infutil::FileNameOffset(inf.GetInfPath().GetString());
    std::vector<std::wstring> notes;
    bool kept = KeepPackageFiles(inf.GetInfDir(), CStrList{CStr(infName)},
                                 CInstallRecord::FolderOf(record.Key().GetString()), &notes, failures);
    for (const std::wstring& note : notes)
        log->WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", note.c_str());
    if (!kept)
        return false;

    // An earlier version in place is replaced: it cannot be uninstalled
    // from under this one. (Installed again over a later version that had
    // replaced it, the later one stays on top.)
    CStr later = record.ReadValue(RECORD_SUPERSEDED_BY);
    if (!later.IsEmpty() && CInstallRecord(later.GetString()).Exists())
        return true;
    CStr current = CInstallRecord::FindCurrent(record.Key().GetString(), infFile.GetString());
    if (!current.IsEmpty() && (!record.WriteValue(RECORD_REPLACES, current.GetString()) ||
                               !CInstallRecord(current.GetString()).WriteValue(RECORD_SUPERSEDED_BY,
                                                                                record.Key().GetString()))) {
        failures->push_back(CStr(FormatWide(L"Install record not written: %s, the version it replaces, error %s",
                                            record.Key().GetString(), DescribeError(record.LastError()).GetString())
                                     .c_str()));
        return false;
    }
    return true;
}

// After the install: the driver INF of the root devices as the INF folder
// holds it now (the platform may have renamed it), and, when the install
// succeeded, the record marked installed. One that failed stays
// "installing": Uninstall takes off what it did.
void FinishInfRecord(CInstallRecord& record, bool succeeded)
{
    for (const RECORDITEM& item : record.ReadItems(RECORD_ROOT_DEVICES)) {
        DEVICEDRIVER driver;
        if (ReadDeviceDriver(item.Field(L"instance").c_str(), &driver) && !driver.inf.IsEmpty()) {
            record.WriteValue(RECORD_PUBLISHED_INF, driver.inf.GetString());
            break;
        }
    }
    if (succeeded)
        record.SetState(RECORD_STATE_INSTALLED);
}

} // namespace

int CBaseComponent::InstallInfFile(int isVirtual, wchar_t* message, const wchar_t* language)
{
    CInf inf(m_strInfFile.GetString());
    if (!inf.IsOpen()) {
        WriteErrorLines(CStrList{CStr(FormatWide(L"INF file not opened: %s", m_strInfFile.GetString()).c_str())});
        return ZOL_INSTALL_FAILED;
    }
    if (isVirtual) {
        inf.SetVirtual(1);
        // A virtual component is installed whole or not at all: a package
        // that lacks a file is refused before the record, a file, a key, a
        // service or a device is touched, on a repeated install as on the
        // first.
        if (!inf.CheckPackageFiles(m_strInfSection.IsEmpty() ? nullptr : m_strInfSection.GetString())) {
            WriteErrorLines(inf.GetFailures());
            CopyMessageText(message, SelectInstallMessage(MSG_INSTALL_ERROR, language));
            return ZOL_INSTALL_FAILED;
        }
    }

    // Every change is recorded before it is made, so that Uninstall can
    // take it back. A package without a version cannot be told from
    // another: it is installed without a record, and Uninstall finds it not
    // installed.
    CStr key = GetPackageKey();
    CInstallRecord record(key.GetString());
    CInstallJournal journal(record);
    if (!key.IsEmpty()) {
        wchar_t name[ZOL_TEXT_CHARS] = {};
        GetPackageName(name, ZOL_TEXT_CHARS, ZOL_LANG_ENGLISH);
        wchar_t version[ZOL_TEXT_CHARS] = {};
        GetPackageVersion(version, ZOL_TEXT_CHARS);
        CStrList failures;
        if (!BeginInfRecord(record, inf, isVirtual, m_strInfFile, m_strInfSection, name, version, m_pLog,
                            &failures)) {
            WriteErrorLines(failures);
            CopyMessageText(message, SelectInstallMessage(MSG_INSTALL_ERROR, language));
            return ZOL_INSTALL_FAILED;
        }
        inf.SetJournal(&journal);
    }

    int restart = 0;
    int ok = m_strInfSection.IsEmpty() ? inf.InstallAll(&restart)
                                       : inf.InstallFromSection(m_strInfSection.GetString(), &restart);
    if (!key.IsEmpty())
        FinishInfRecord(record, ok != 0);
    if (!ok) {
        // A failed install says what failed; a successful one writes nothing.
        WriteErrorLines(inf.GetFailures());
        if (inf.IsPackageIncomplete() || inf.IsJournalStopped())
            CopyMessageText(message, SelectInstallMessage(MSG_INSTALL_ERROR, language));
        return ZOL_INSTALL_FAILED;
    }
    return (m_bRebootRequired || restart == 1) ? ZOL_INSTALL_RESTART : ZOL_INSTALL_SUCCESS;
}

int CBaseComponent::InstallLegacy(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return InstallInfFile(0, message, language);
}

int CBaseComponent::InstallVirtual(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return InstallInfFile(1, message, language);
}

int CBaseComponent::ServiceControlsAllDevices(const wchar_t* serviceName)
{
    if (m_vSupportedHardwareIds.empty())
        return 1;
    if (serviceName == nullptr)
        return 0;

    CStr path;
    path.Format(L"SYSTEM\\CurrentControlSet\\Services\\%s\\Enum", serviceName);
    CRegistryKey key(HKEY_LOCAL_MACHINE, path.GetString());
    DWORD count = 0;
    if (!key.ReadDword(L"Count", &count))
        return 0;

    // A service with one instance that is its own legacy root node drives
    // none of the devices.
    if (count == 1) {
        CStr first;
        if (key.ReadString(L"0", &first) && first.Find(L"LEGACY_") >= 0)
            return 0;
    }

    // Each supported ID counts once: the package definition and a derived
    // component may both list the same ID, and one device must not be
    // counted twice for it.
    size_t present = 0;
    for (size_t i = 0; i < m_vSupportedHardwareIds.size(); ++i) {
        const CStr& id = m_vSupportedHardwareIds[i];
        bool listedBefore = false;
        for (size_t j = 0; j < i && !listedBefore; ++j)
            listedBefore = m_vSupportedHardwareIds[j].CompareNoCase(id.GetString()) == 0;
        if (!listedBefore && IsDevicePresent(id.GetString()))
            ++present;
    }
    return static_cast<size_t>(count) >= present ? 1 : 0;
}
