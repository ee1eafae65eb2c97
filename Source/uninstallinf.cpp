// Uninstall of LEGACY and VIRTUAL packages, from their install record.
//
// First what the component itself made: the root devices it created are
// removed (the class installer's remove request), and the driver INF their
// driver install put in the system's INF folder leaves it once no device
// uses it. Then the package:
// - an INF with a "DefaultUninstall" section says itself what uninstalling
//   it means: that section (with its ".Services" section) runs with the INF
//   engine's own operations, and the files, services and registry entries
//   the install created are its to take. The component still puts back the
//   files the install replaced (it kept them, the INF cannot know them),
//   deletes the shortcuts it made and removes the folders the install
//   created once they are empty.
// - otherwise the record is taken back in reverse: the services it created
//   (unless another device's driver uses them), the files it created or
//   replaced, the registry keys and values it created, its shortcuts, and
//   its folders when they are empty.
// Each item leaves the record once it is undone; the record goes last. A
// step that fails leaves the record "partial" with what is left, and the
// next Uninstall goes on from there.
#include "basecomp.h"
#include "devices/devicedrivers.h"
#include "inf/devicenodes.h"
#include "inf/inf.h"
#include "inf/infutil.h"
#include "inf/servicecontrol.h"
#include "installrecord.h"
#include "messages.h"
#include "packagefiles.h"
#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/errortext.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/wformat.h"
#include "uninstallplan.h"

#include <algorithm>
#include <string>
#include <vector>

#define UNINSTALL_INF_SOURCE L".\\Source\\uninstallinf.cpp"

namespace {

const wchar_t kUninstallSection[] = L"DefaultUninstall";

bool HasField(const RECORDITEM& item, const wchar_t* field)
{
    for (const auto& entry : item.fields) {
        if (entry.first == field)
            return true;
    }
    return false;
}

// The items of kind, last first.
std::vector<RECORDITEM> ItemsInReverse(const CInstallRecord& record, const wchar_t* kind)
{
    std::vector<RECORDITEM> items = record.ReadItems(kind);
    std::reverse(items.begin(), items.end());
    return items;
}

// Whether a key has neither values nor subkeys.
bool IsEmptyKey(HKEY key)
{
    DWORD subkeys = 0, values = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// Whether a folder (not a link) holds nothing.
bool IsEmptyFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    CUniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find)
        return false;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0)
            return false;
    } while (FindNextFileW(find.get(), &entry));
    return true;
}

// One uninstall of an INF package: its steps, their log lines and the
// failures, over the package's record.
class CInfUninstall
{
public:
    CInfUninstall(CCmpLog* log, CInstallRecord& record, std::vector<UNINSTALLDEVICE>& devices)
        : m_pLog(log), m_record(record), m_devices(devices), m_bOk(true), m_bRestart(false)
    {
    }

    void RemoveRootDevices();
    void RemoveDriverInf();
    // The INF's own uninstall section; false when the INF has none.
    bool RunUninstallSection(const CStr& infPath);
    void DropCreatedItems();
    void DeleteServices();
    void TakeBackFiles(bool replacedOnly);
    void DeleteRegistryEntries();
    void DeleteShortcuts();
    void RemoveFolders();
    // The record goes last.
    void ForgetRecord();

    bool Ok() const { return m_bOk; }
    bool Restart() const { return m_bRestart; }
    const CStrList& Failures() const { return m_vFailures; }

private:
    void Step(int line, const std::wstring& text)
    {
        m_pLog->WriteLine(LOG_BOTH, SEV_INFO, UNINSTALL_INF_SOURCE, line, L"%s... ",
                          EscapeControlChars(text.c_str()).GetString());
    }
    // Ends the step's line; an item undone leaves the record.
    bool Done(DWORD error, const wchar_t* kind, const RECORDITEM& item, const std::wstring& failure)
    {
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, error == ERROR_SUCCESS ? L"Done.\r\n" : L"Failed!\r\n");
        if (error == ERROR_SUCCESS) {
            if (kind != nullptr)
                m_record.RemoveItem(kind, item.name);
            return true;
        }
        Fail(FormatWide(L"%s, error %s", failure.c_str(), DescribeError(error).GetString()));
        return false;
    }
    void Fail(const std::wstring& text)
    {
        m_bOk = false;
        m_vFailures.push_back(CStr(text.c_str()));
    }

    CCmpLog* m_pLog;
    CInstallRecord& m_record;
    std::vector<UNINSTALLDEVICE>& m_devices;
    bool m_bOk;
    bool m_bRestart;
    CStrList m_vFailures;
};

void CInfUninstall::RemoveRootDevices()
{
    for (const RECORDITEM& item : ItemsInReverse(m_record, RECORD_ROOT_DEVICES)) {
        const std::wstring& instance = item.Field(L"instance");
        UNINSTALLDEVICE* device = nullptr;
        for (UNINSTALLDEVICE& planned : m_devices) {
            if (EqualsAsciiNoCase(planned.driver.instanceId.GetString(), instance.c_str()))
                device = &planned;
        }
        if (device == nullptr) {
            m_record.RemoveItem(RECORD_ROOT_DEVICES, item.name); // gone already
            continue;
        }
        // The driver's INF is known from the device while it is there.
        if (!device->driver.inf.IsEmpty() && m_record.ReadValue(RECORD_PUBLISHED_INF).IsEmpty())
            m_record.WriteValue(RECORD_PUBLISHED_INF, device->driver.inf.GetString());
        Step(101, FormatWide(L"    - Removing device %s", instance.c_str()));
        bool restart = false;
        DWORD error = RemoveDeviceNode(instance.c_str(), &restart);
        ZOL_DEVICE_RESULT& r = device->record;
        r.nOutcome = error == ERROR_SUCCESS ? ZOL_DEVICE_REMOVED : ZOL_DEVICE_FAILED;
        r.dwError = error;
        r.bRestart = restart ? 1 : 0;
        m_bRestart = m_bRestart || restart;
        Done(error, RECORD_ROOT_DEVICES, item, FormatWide(L"Device not removed: %s", instance.c_str()));
    }
}

void CInfUninstall::RemoveDriverInf()
{
    CStr published = m_record.ReadValue(RECORD_PUBLISHED_INF);
    if (published.IsEmpty())
        return;
    // A device the package did not create that uses the INF keeps it.
    if (FindDevicesUsingInf(published.GetString()).empty()) {
        Step(111, FormatWide(L"    - Removing %s from the INF folder", published.GetString()));
        DWORD error = RemovePublishedInf(published.GetString());
        if (!Done(error, nullptr, RECORDITEM(), FormatWide(L"INF not removed: %s", published.GetString())))
            return;
    }
    m_record.DeleteValue(RECORD_PUBLISHED_INF);
}

bool CInfUninstall::RunUninstallSection(const CStr& infPath)
{
    CInf inf(infPath.GetString());
    if (!inf.IsOpen() || !inf.HasSection(kUninstallSection))
        return false;
    const wchar_t* name = infPath.GetString() + infutil::FileNameOffset(infPath.GetString());
    Step(121, FormatWide(L"    - Running %s of %s", kUninstallSection, name));
    int restart = 0;
    bool done = inf.RunUninstallSection(kUninstallSection, &restart) != 0;
    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, done ? L"Done.\r\n" : L"Failed!\r\n");
    m_bRestart = m_bRestart || restart == 1;
    if (!done) {
        m_bOk = false;
        for (const CStr& failure : inf.GetFailures())
            m_vFailures.push_back(failure);
    }
    return true;
}

void CInfUninstall::DropCreatedItems()
{
    for (const wchar_t* kind : {RECORD_SERVICES, RECORD_REGISTRY}) {
        for (const RECORDITEM& item : m_record.ReadItems(kind))
            m_record.RemoveItem(kind, item.name);
    }
    for (const RECORDITEM& item : m_record.ReadItems(RECORD_FILES)) {
        if (item.Field(L"action") != L"replaced")
            m_record.RemoveItem(RECORD_FILES, item.name);
    }
}

void CInfUninstall::DeleteServices()
{
    for (const RECORDITEM& item : ItemsInReverse(m_record, RECORD_SERVICES)) {
        const std::wstring& name = item.Field(L"name");
        // A driver of another device uses it: it is not the package's to
        // take any more.
        if (IsServiceUsedByDevices(name.c_str())) {
            m_record.RemoveItem(RECORD_SERVICES, item.name);
            continue;
        }
        Step(131, FormatWide(L"    - Deleting service %s", name.c_str()));
        bool restart = false;
        DWORD error = StopAndDeleteService(name.c_str(), &restart);
        m_bRestart = m_bRestart || restart;
        Done(error, RECORD_SERVICES, item, FormatWide(L"Service not deleted: %s", name.c_str()));
    }
}

void CInfUninstall::TakeBackFiles(bool replacedOnly)
{
    CStr backups = BackupFolderOf(CInstallRecord::FolderOf(m_record.Key().GetString()));
    for (const RECORDITEM& item : ItemsInReverse(m_record, RECORD_FILES)) {
        const std::wstring& path = item.Field(L"path");
        DWORD error = ERROR_SUCCESS;
        if (item.Field(L"action") == L"replaced") {
            Step(141, FormatWide(L"    - Putting back %s", path.c_str()));
            const std::wstring& backup = item.Field(L"backup");
            error = IsPlainName(backup.c_str())
                        ? PutBackFile(infutil::JoinPath(backups.GetString(), backup.c_str()).GetString(), path.c_str(),
                                      &m_bRestart)
                        : ERROR_INVALID_NAME;
        } else if (!replacedOnly) {
            Step(151, FormatWide(L"    - Deleting %s", path.c_str()));
            error = DeleteInstalledFile(path.c_str(), &m_bRestart);
        } else {
            continue;
        }
        Done(error, RECORD_FILES, item, FormatWide(L"File not taken back: %s", path.c_str()));
    }
}

void CInfUninstall::DeleteRegistryEntries()
{
    for (const RECORDITEM& item : ItemsInReverse(m_record, RECORD_REGISTRY)) {
        const wchar_t* rootName = nullptr;
        HKEY root = InfRegistryRoot(item.Field(L"root").c_str(), &rootName);
        const std::wstring& key = item.Field(L"key");
        CUniqueRegKey opened;
        LONG rc = root == nullptr || key.empty()
                      ? ERROR_INVALID_DATA
                      : RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | KEY_SET_VALUE, opened.put());
        if (rc == ERROR_FILE_NOT_FOUND) {
            m_record.RemoveItem(RECORD_REGISTRY, item.name); // gone already
            continue;
        }
        std::wstring where = FormatWide(L"%s\\%s", rootName ? rootName : item.Field(L"root").c_str(), key.c_str());
        if (HasField(item, L"value")) {
            const std::wstring& value = item.Field(L"value");
            if (rc == ERROR_SUCCESS &&
                RegQueryValueExW(opened.get(), value.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                m_record.RemoveItem(RECORD_REGISTRY, item.name);
                continue;
            }
            where += L"\\" + (value.empty() ? std::wstring(L"(default)") : value);
            Step(161, FormatWide(L"    - Deleting registry value %s", where.c_str()));
            if (rc == ERROR_SUCCESS)
                rc = (ZOL_CHANGE_POINT("RegDeleteValueW", value.c_str()), RegDeleteValueW(opened.get(), value.c_str()));
        } else {
            // A key the package made that holds what others put there stays.
            if (rc == ERROR_SUCCESS && !IsEmptyKey(opened.get())) {
                m_record.RemoveItem(RECORD_REGISTRY, item.name);
                continue;
            }
            Step(171, FormatWide(L"    - Deleting registry key %s", where.c_str()));
            opened.reset();
            if (rc == ERROR_SUCCESS)
                rc = (ZOL_CHANGE_POINT("RegDeleteKeyW", key.c_str()), RegDeleteKeyW(root, key.c_str()));
        }
        if (rc == ERROR_FILE_NOT_FOUND)
            rc = ERROR_SUCCESS;
        Done(static_cast<DWORD>(rc), RECORD_REGISTRY, item, FormatWide(L"Registry entry not deleted: %s", where.c_str()));
    }
}

void CInfUninstall::DeleteShortcuts()
{
    for (const RECORDITEM& item : ItemsInReverse(m_record, RECORD_SHORTCUTS)) {
        const std::wstring& path = item.Field(L"path");
        Step(181, FormatWide(L"    - Deleting shortcut %s", path.c_str()));
        DWORD error = DeleteInstalledFile(path.c_str(), &m_bRestart);
        Done(error, RECORD_SHORTCUTS, item, FormatWide(L"Shortcut not deleted: %s", path.c_str()));
    }
}

void CInfUninstall::RemoveFolders()
{
    for (const RECORDITEM& item : ItemsInReverse(m_record, RECORD_FOLDERS)) {
        const std::wstring& path = item.Field(L"path");
        // One that holds something, or that is no folder of the package's
        // any more (a link in its place), stays.
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsEmptyFolder(path)) {
            m_record.RemoveItem(RECORD_FOLDERS, item.name);
            continue;
        }
        Step(191, FormatWide(L"    - Removing folder %s", path.c_str()));
        DWORD error = (ZOL_CHANGE_POINT("RemoveDirectoryW", path.c_str()), RemoveDirectoryW(path.c_str()))
                          ? ERROR_SUCCESS
                          : GetLastError();
        Done(error, RECORD_FOLDERS, item, FormatWide(L"Folder not removed: %s", path.c_str()));
    }
}

void CInfUninstall::ForgetRecord()
{
    Step(201, FormatWide(L"    - Removing the install record %s", m_record.Key().GetString()));
    // The version this one replaced is the installed one again.
    CStr replaced = m_record.ReadValue(RECORD_REPLACES);
    if (!replaced.IsEmpty())
        CInstallRecord(replaced.GetString()).DeleteValue(RECORD_SUPERSEDED_BY);
    bool forgotten = DeleteRecordFolder(CInstallRecord::FolderOf(m_record.Key().GetString())) && m_record.Delete();
    Done(forgotten ? ERROR_SUCCESS : m_record.LastError(), nullptr, RECORDITEM(),
         FormatWide(L"Install record not removed: %s", m_record.Key().GetString()));
}

// The INF the package was installed from: its copy in the record's folder,
// else the package's own.
CStr InstalledInfPath(const CInstallRecord& record, const CStr& packageInf)
{
    CStr inf = record.ReadValue(RECORD_INF_NAME);
    if (IsPlainName(inf.GetString())) {
        CStr kept = infutil::JoinPath(StoreFolderOf(CInstallRecord::FolderOf(record.Key().GetString())).GetString(),
                                      inf.GetString());
        DWORD attributes = GetFileAttributesW(kept.GetString());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return kept;
    }
    return packageInf;
}

} // namespace

int CBaseComponent::UninstallLegacy(CInstallRecord& record, int flags, wchar_t* message, const wchar_t* language)
{
    WaitForPendingDeviceInstalls();
    UNINSTALLPLAN plan;
    PlanUninstall(&plan);
    record.SetState(RECORD_STATE_REMOVING);

    CInfUninstall run(m_pLog, record, plan.devices);
    run.RemoveRootDevices();
    // The rest waits until no device of the package is left.
    if (run.Ok())
        run.RemoveDriverInf();
    if (run.Ok()) {
        if (run.RunUninstallSection(InstalledInfPath(record, m_strInfFile))) {
            if (run.Ok())
                run.DropCreatedItems();
            run.TakeBackFiles(true);
        } else {
            run.DeleteServices();
            run.TakeBackFiles(false);
            run.DeleteRegistryEntries();
        }
        run.DeleteShortcuts();
        run.RemoveFolders();
    }
    CStr infName = record.ReadValue(RECORD_INF_NAME);
    if (run.Ok())
        run.ForgetRecord();
    if (run.Ok())
        RetireUninstallEntry(record.Key(), infName);

    m_vDeviceResults.clear();
    for (const UNINSTALLDEVICE& device : plan.devices) {
        SUPPORTEDDEVICE result;
        result.record = device.record;
        result.ids.push_back(device.hardwareId);
        m_vDeviceResults.push_back(result);
    }
    if (!run.Ok()) {
        record.SetState(RECORD_STATE_PARTIAL);
        WriteErrorLines(run.Failures());
        CopyMessageText(message, SelectMessage(MSG_UNINSTALL_PARTIAL, language));
        return ZOL_INSTALL_FAILED;
    }
    return run.Restart() ? ZOL_INSTALL_RESTART : ZOL_INSTALL_SUCCESS;
}

int CBaseComponent::UninstallVirtual(CInstallRecord& record, int flags, wchar_t* message, const wchar_t* language)
{
    // The same steps: its root devices, then its INF, then its service when
    // it created it and no other device uses it, then the rest.
    return CBaseComponent::UninstallLegacy(record, flags, message, language);
}
