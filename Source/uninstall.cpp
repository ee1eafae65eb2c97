// Uninstall: the package is taken off again as its install record says. The
// what-if (property 11) works out the same plan without changing anything.
//
// A PnP package's devices go back to the driver each had before the package
// (an earlier version of it is installed again from its kept copy, with the
// files the later one replaced put back byte for byte), or else to the
// next-best driver the platform offers; a device for which no driver would
// be left is left without one only when the host forces it. Then the files
// and services the package created go, the files it replaced come back, its
// INF leaves the system's INF folder, the staging folder is emptied, and the
// record goes last.
#include "basecomp.h"
#include "devices/devicedrivers.h"
#include "devices/pnpdriver.h"
#include "inf/infdriverfootprint.h"
#include "inf/infutil.h"
#include "inf/servicecontrol.h"
#include "installrecord.h"
#include "messages.h"
#include "packagefiles.h"
#include "uninstallentry.h"
#include "support/asciicase.h"
#include "support/errortext.h"
#include "support/installlock.h"
#include "support/plainname.h"
#include "support/wformat.h"
#include "uninstallplan.h"

#include <map>

#define UNINSTALL_SOURCE L".\\Source\\uninstall.cpp"

namespace {

int PackageStateOf(const CInstallRecord& record, CStr* laterVersion)
{
    if (!record.Exists())
        return ZOL_PACKAGE_NOT_INSTALLED;
    CStr later = record.ReadValue(RECORD_SUPERSEDED_BY);
    if (!later.IsEmpty()) {
        CInstallRecord laterRecord(later.GetString());
        if (laterRecord.Exists()) {
            *laterVersion = laterRecord.ReadValue(RECORD_VERSION);
            return ZOL_PACKAGE_SUPERSEDED;
        }
    }
    switch (record.GetState()) {
    case RECORD_STATE_INSTALLING: return ZOL_PACKAGE_INSTALLING;
    case RECORD_STATE_INSTALLED: return ZOL_PACKAGE_INSTALLED;
    case RECORD_STATE_REMOVING:
    case RECORD_STATE_PARTIAL: return ZOL_PACKAGE_PARTIAL;
    default: return ZOL_PACKAGE_NOT_INSTALLED;
    }
}

const RECORDITEM* FindDeviceItem(const std::vector<RECORDITEM>& items, const CStr& instance)
{
    for (const RECORDITEM& item : items) {
        if (EqualsAsciiNoCase(item.Field(L"instance").c_str(), instance.GetString()))
            return &item;
    }
    return nullptr;
}

// The INF of one of this component's packages, in its kept copy.
CStr KeptInfPath(const CStr& key)
{
    CInstallRecord record(key.GetString());
    CStr inf = record.ReadValue(RECORD_INF_NAME);
    if (!record.Exists() || !IsPlainName(inf.GetString()))
        return CStr();
    CStr path = infutil::JoinPath(StoreFolderOf(CInstallRecord::FolderOf(key.GetString())).GetString(),
                                  inf.GetString());
    DWORD attributes = GetFileAttributesW(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? path : CStr();
}

void CopyText(wchar_t* field, const CStr& text)
{
    CopyTruncate(field, ZOL_DEVICE_TEXT_CHARS, text.GetString());
}

CSupportedDevices ToResults(const std::vector<UNINSTALLDEVICE>& devices)
{
    CSupportedDevices results;
    for (const UNINSTALLDEVICE& device : devices) {
        SUPPORTEDDEVICE result;
        result.record = device.record;
        result.ids.push_back(device.hardwareId);
        results.push_back(result);
    }
    return results;
}

// The plan of a PnP package: every device, present or not, whose driver is
// the package's INF, with what it goes back to.
void PlanPnPDevices(CInstallRecord& record, UNINSTALLPLAN* plan)
{
    CStr published = record.ReadValue(RECORD_PUBLISHED_INF);
    std::vector<RECORDITEM> items = record.ReadItems(RECORD_DEVICES);
    std::vector<DEVICEDRIVER> devices;
    if (!published.IsEmpty()) {
        devices = FindDevicesUsingInf(published.GetString());
    } else {
        // An install cut off before it knew its INF's name: the devices it
        // listed whose driver is no longer the one they had.
        for (const RECORDITEM& item : items) {
            DEVICEDRIVER now;
            if (ReadDeviceDriver(item.Field(L"instance").c_str(), &now) && !now.inf.IsEmpty() &&
                !EqualsAsciiNoCase(now.inf.GetString(), item.Field(L"inf").c_str()))
                devices.push_back(now);
        }
    }

    // A device whose driver a run cut off was taking off is no longer on the
    // INF and not yet without a driver: it is taken off again.
    for (const RECORDITEM& item : items) {
        const std::wstring instance = item.Field(L"instance");
        bool listed = false;
        for (const DEVICEDRIVER& driver : devices)
            listed = listed || EqualsAsciiNoCase(driver.instanceId.GetString(), instance.c_str());
        DEVICEDRIVER now;
        if (!listed && IsDriverPartlyRemoved(instance.c_str()) && ReadDeviceDriver(instance.c_str(), &now))
            devices.push_back(now);
    }

    for (const DEVICEDRIVER& driver : devices) {
        UNINSTALLDEVICE device;
        ZeroMemory(&device.record, sizeof(device.record));
        device.driver = driver;
        device.present = IsDevicePresentNow(driver.instanceId.GetString());
        const RECORDITEM* item = FindDeviceItem(items, driver.instanceId);
        device.hardwareId = item && !item->Field(L"hardware_id").empty()
                                ? CStr(item->Field(L"hardware_id").c_str())
                                : (driver.hardwareIds.empty() ? CStr() : driver.hardwareIds.front());
        ZOL_DEVICE_RESULT& r = device.record;
        r.nOutcome = ZOL_DEVICE_PLANNED;
        CopyTruncate(r.szInstanceId, ZOL_DEVICE_ID_CHARS, driver.instanceId.GetString());
        CopyTruncate(r.szHardwareId, ZOL_HARDWARE_ID_CHARS, device.hardwareId.GetString());
        CopyText(r.szService, driver.service);
        CopyText(r.szInf, driver.inf);
        CopyText(r.szDriverVersion, driver.version);

        CStr previousPackage = item ? CStr(item->Field(L"package").c_str()) : CStr();
        CStr previousInf = item ? CStr(item->Field(L"inf").c_str()) : CStr();
        CStr previousPath = previousInf.IsEmpty() ? CStr() : InfFolderPath(previousInf.GetString());
        CStr nextInf, nextVersion;
        CStr keptInf = previousPackage.IsEmpty() ? CStr() : KeptInfPath(previousPackage);
        // An earlier version whose kept copy is no longer whole cannot be
        // installed again: the device goes on as if it had none.
        if (!keptInf.IsEmpty() && IsDriverPackageComplete(keptInf.GetString(), driver.hardwareIds)) {
            CInstallRecord previous(previousPackage.GetString());
            CStr inf = previous.ReadValue(RECORD_PUBLISHED_INF);
            r.nAction = ZOL_ACTION_RESTORE_PREVIOUS;
            device.targetPackage = previousPackage;
            CopyText(r.szTargetInf, inf.IsEmpty() ? previous.ReadValue(RECORD_INF_NAME) : inf);
            CopyText(r.szTargetVersion, previous.ReadValue(RECORD_VERSION));
        } else if (!previousPath.IsEmpty() && !EqualsAsciiNoCase(previousInf.GetString(), published.GetString()) &&
                   GetFileAttributesW(previousPath.GetString()) != INVALID_FILE_ATTRIBUTES &&
                   IsDriverPackageComplete(previousPath.GetString(), driver.hardwareIds)) {
            r.nAction = ZOL_ACTION_RESTORE_PREVIOUS;
            device.targetPath = previousPath;
            CopyText(r.szTargetInf, previousInf);
            CopyText(r.szTargetVersion, CStr(item->Field(L"version").c_str()));
        } else if (FindNextBestDriver(driver, published.IsEmpty() ? driver.inf.GetString() : published.GetString(),
                                      &nextInf, &nextVersion)) {
            r.nAction = ZOL_ACTION_NEXT_BEST;
            device.targetPath = InfFolderPath(nextInf.GetString());
            CopyText(r.szTargetInf, nextInf);
            CopyText(r.szTargetVersion, nextVersion);
        } else {
            r.nAction = ZOL_ACTION_NO_DRIVER;
        }
        plan->devices.push_back(device);
    }
}

// The root devices a LEGACY or VIRTUAL install created: removed.
void PlanRootDevices(CInstallRecord& record, UNINSTALLPLAN* plan)
{
    for (const RECORDITEM& item : record.ReadItems(RECORD_ROOT_DEVICES)) {
        UNINSTALLDEVICE device;
        ZeroMemory(&device.record, sizeof(device.record));
        if (!ReadDeviceDriver(item.Field(L"instance").c_str(), &device.driver))
            continue; // gone already
        device.present = true;
        device.hardwareId = device.driver.hardwareIds.empty() ? CStr() : device.driver.hardwareIds.front();
        ZOL_DEVICE_RESULT& r = device.record;
        r.nOutcome = ZOL_DEVICE_PLANNED;
        r.nAction = ZOL_ACTION_REMOVE_DEVICE;
        CopyTruncate(r.szInstanceId, ZOL_DEVICE_ID_CHARS, device.driver.instanceId.GetString());
        CopyTruncate(r.szHardwareId, ZOL_HARDWARE_ID_CHARS, device.hardwareId.GetString());
        CopyText(r.szService, device.driver.service);
        CopyText(r.szInf, device.driver.inf);
        CopyText(r.szDriverVersion, device.driver.version);
        plan->devices.push_back(device);
    }
}

} // namespace

const wchar_t* CBaseComponent::SelectMessage(int message, const wchar_t* language)
{
    return GetMessageText(message, GetLanguageColumn(language));
}

void CBaseComponent::PlanUninstall(UNINSTALLPLAN* plan)
{
    *plan = UNINSTALLPLAN();
    CInstallRecord record(GetPackageKey().GetString());
    plan->packageState = PackageStateOf(record, &plan->laterVersion);
    if (plan->packageState == ZOL_PACKAGE_NOT_INSTALLED || plan->packageState == ZOL_PACKAGE_SUPERSEDED)
        return;
    if (record.ReadValue(RECORD_INF_TYPE).Equals(L"PNP"))
        PlanPnPDevices(record, plan);
    else
        PlanRootDevices(record, plan);
}

int CBaseComponent::GetUninstallPlan(ZOL_DEVICE_RESULTS* out, int capacity)
{
    UNINSTALLPLAN plan;
    PlanUninstall(&plan);
    return CopyDeviceResults(ToResults(plan.devices), out, capacity, plan.packageState);
}

int CBaseComponent::Uninstall(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    // One installation or uninstallation at a time on this machine.
    CInstallLock lock;
    if (!AcquireInstallLock(lock)) {
        CopyMessageText(message, SelectMessage(MSG_UNINSTALL_ERROR, language));
        return ZOL_INSTALL_FAILED;
    }

    m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Initiating uninstallation... ");
    CStr key = GetPackageKey();
    CInstallRecord record(key.GetString());
    CStr type = record.ReadValue(RECORD_INF_TYPE);
    m_pLog->WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"\r\n");
    // The type the package was installed as; for one that was not, the
    // type its installer description names.
    const wchar_t* typeName = type.IsEmpty() ? (m_nInfType == INF_TYPE_PNP       ? L"PNP"
                                                : m_nInfType == INF_TYPE_LEGACY  ? L"LEGACY"
                                                : m_nInfType == INF_TYPE_VIRTUAL ? L"VIRTUAL"
                                                                                 : L"unknown")
                                             : type.GetString();
    m_pLog->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Type=%s\r\n", typeName);

    m_vDeviceResults.clear();
    m_bDeviceResultsRecorded = 1;
    CStr laterVersion;
    int state = PackageStateOf(record, &laterVersion);
    wchar_t version[ZOL_TEXT_CHARS] = {};
    GetPackageVersion(version, ZOL_TEXT_CHARS);
    if (state == ZOL_PACKAGE_NOT_INSTALLED) {
        CopyMessageText(message, SelectMessage(MSG_NOT_INSTALLED, language));
        WriteErrorLines({CStr(FormatWide(L"Package not installed: %s %s", m_strInfFile.GetString(), version).c_str())});
        // An uninstallation cut off after the record went leaves the entry
        // among the installed programs and this version's kept copy: they go
        // now. Where another version is in place its entry stays as it is.
        const CStr kept = KeptCopyFolderOf(key.GetString());
        const bool keptLeft = !kept.IsEmpty() && GetFileAttributesW(kept.GetString()) != INVALID_FILE_ATTRIBUTES;
        if (keptLeft || FindRecordInPlace(m_strInfFile.GetString()).IsEmpty())
            RetireUninstallEntry(key, m_strInfFile);
        return ZOL_INSTALL_FAILED;
    }
    if (state == ZOL_PACKAGE_SUPERSEDED) {
        FormatMessageText(message, SelectMessage(MSG_LATER_VERSION_INSTALLED, language), laterVersion.GetString());
        WriteErrorLines({CStr(FormatWide(L"Version %s of this package is installed over %s: uninstall it first",
                                         laterVersion.GetString(), version)
                                  .c_str())});
        return ZOL_INSTALL_FAILED;
    }

    const int flags = a;
    if (type.Equals(L"PNP"))
        return UninstallPnP(record, flags, message, language);
    if (type.Equals(L"VIRTUAL"))
        return UninstallVirtual(record, flags, message, language);
    if (type.Equals(L"LEGACY"))
        return UninstallLegacy(record, flags, message, language);
    CopyMessageText(message, SelectMessage(MSG_UNINSTALL_ERROR, language));
    WriteErrorLines({CStr(FormatWide(L"Install record unreadable: %s", key.GetString()).c_str())});
    return ZOL_INSTALL_FAILED;
}

int CBaseComponent::UninstallPnP(CInstallRecord& record, int flags, wchar_t* message, const wchar_t* language)
{
    WaitForPendingDeviceInstalls();
    UNINSTALLPLAN plan;
    plan.packageState = ZOL_PACKAGE_INSTALLED;
    PlanPnPDevices(record, &plan);
    std::vector<UNINSTALLDEVICE>& devices = plan.devices;

    // Nothing changes when a device would be left without a driver and the
    // host did not ask for that.
    if (!(flags & ZOL_UNINSTALL_FORCE)) {
        const UNINSTALLDEVICE* stranded = nullptr;
        for (const UNINSTALLDEVICE& device : devices) {
            if (device.record.nAction == ZOL_ACTION_NO_DRIVER && stranded == nullptr)
                stranded = &device;
        }
        if (stranded != nullptr) {
            FormatMessageText(message, SelectMessage(MSG_NO_DRIVER_LEFT, language),
                              stranded->driver.instanceId.GetString());
            WriteErrorLines({CStr(FormatWide(L"No other driver for device %s: uninstallation refused",
                                             stranded->driver.instanceId.GetString())
                                      .c_str())});
            for (UNINSTALLDEVICE& device : devices) {
                device.record.nOutcome = ZOL_DEVICE_NOT_ATTEMPTED;
                device.record.nReason = device.record.nAction == ZOL_ACTION_NO_DRIVER ? ZOL_REASON_NO_DRIVER_LEFT
                                                                                       : ZOL_REASON_NOT_REACHED;
            }
            m_vDeviceResults = ToResults(devices);
            return ZOL_INSTALL_FAILED;
        }
    }

    record.SetState(RECORD_STATE_REMOVING);
    bool ok = true, restart = false;
    CStrList failures;
    auto step = [this](int line, const std::wstring& text) {
        m_pLog->WriteLine(LOG_BOTH, SEV_INFO, UNINSTALL_SOURCE, line, L"%s... ",
                          EscapeControlChars(text.c_str()).GetString());
    };
    auto done = [this](bool succeeded) {
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, succeeded ? L"Done.\r\n" : L"Failed!\r\n");
    };
    auto outcome = [&](UNINSTALLDEVICE& device, bool succeeded, DWORD error, BOOL reboot) {
        device.record.nOutcome = succeeded ? ZOL_DEVICE_UPDATED : ZOL_DEVICE_FAILED;
        device.record.dwError = succeeded ? 0 : error;
        device.record.bRestart = reboot ? 1 : 0;
        restart = restart || reboot;
        ok = ok && succeeded;
        done(succeeded);
    };

    // Back to an earlier version of this package: its kept copy is staged
    // again (the same staging and completeness check as an install) and
    // installed, forced; the files this version replaced come back below.
    std::map<std::wstring, std::vector<UNINSTALLDEVICE*>> byPackage;
    for (UNINSTALLDEVICE& device : devices) {
        if (device.record.nAction == ZOL_ACTION_RESTORE_PREVIOUS && !device.targetPackage.IsEmpty())
            byPackage[device.targetPackage.GetString()].push_back(&device);
    }
    for (auto& group : byPackage) {
        CInstallRecord previous(group.first.c_str());
        CStr inf = previous.ReadValue(RECORD_INF_NAME);
        CWin2000PnPDriver driver(inf.GetString(), 1);
        driver.SetPackageFolder(StoreFolderOf(CInstallRecord::FolderOf(group.first.c_str())).GetString());
        for (UNINSTALLDEVICE* device : group.second) {
            if (device->present)
                driver.AddHardwareId(device->hardwareId.GetString());
            else
                driver.AddCheckedOnlyHardwareId(device->hardwareId.GetString());
        }
        step(201, FormatWide(L"    - Staging %s %s again", inf.GetString(), previous.ReadValue(RECORD_VERSION).GetString()));
        wchar_t stagedInf[MAX_PATH] = {};
        bool stagedFits = false;
        int code = driver.GetHardwareIds().empty() ? driver.StagePackage(stagedInf, &stagedFits)
                                                   : driver.InstallDrivers();
        if (code == PNP_INSTALL_DONE || code == PNP_INSTALL_UPDATE_FAILED) {
            done(true);
        } else {
            done(false);
            ok = false;
        }
        for (const CStr& failure : driver.GetFailures())
            failures.push_back(failure);
        if (!driver.GetHardwareIds().empty())
            CopyIfFits(stagedInf, MAX_PATH,
                       infutil::JoinPath(CWin2000PnPDriver::GetStagingFolder().GetString(), inf.GetString()).GetString());
        for (UNINSTALLDEVICE* device : group.second) {
            step(211, FormatWide(L"    - Restoring the previous driver of %s (%s %s)", device->record.szInstanceId,
                                 device->record.szTargetInf, device->record.szTargetVersion));
            bool succeeded = code == PNP_INSTALL_DONE || code == PNP_INSTALL_UPDATE_FAILED;
            DWORD error = succeeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
            BOOL reboot = FALSE;
            if (succeeded && device->present) {
                for (const UPDATEOUTCOME& update : driver.GetUpdateOutcomes()) {
                    if (!update.hardwareId.Equals(device->hardwareId.GetString()))
                        continue;
                    succeeded = update.updated != 0;
                    error = update.error;
                    reboot = update.restart ? TRUE : FALSE;
                }
            } else if (succeeded) {
                succeeded = InstallDriverOnDevice(device->driver, device->hardwareId.GetString(), stagedInf, false,
                                                  &reboot, &error);
                driver.ReleaseStagedFiles();
            }
            if (!succeeded)
                failures.push_back(CStr(FormatWide(L"Previous driver not restored: %s, error %s",
                                                   device->record.szInstanceId, DescribeError(error).GetString())
                                            .c_str()));
            outcome(*device, succeeded, error, reboot);
        }
    }

    // Back to a driver of the INF folder: the one a device had, or the next
    // best the platform offers; or none at all.
    IDriverPackageUninstall& packageUninstall = DriverPackageUninstall();
    const bool platformUninstall = packageUninstall.Available();
    CStr published = record.ReadValue(RECORD_PUBLISHED_INF);
    std::vector<UNINSTALLDEVICE*> leftToPlatform;
    for (UNINSTALLDEVICE& device : devices) {
        const int action = device.record.nAction;
        if (action == ZOL_ACTION_RESTORE_PREVIOUS && device.targetPackage.IsEmpty()) {
            step(221, FormatWide(L"    - Restoring the previous driver of %s (%s %s)", device.record.szInstanceId,
                                 device.record.szTargetInf, device.record.szTargetVersion));
        } else if ((action == ZOL_ACTION_NEXT_BEST || action == ZOL_ACTION_NO_DRIVER) && platformUninstall &&
                   !published.IsEmpty()) {
            leftToPlatform.push_back(&device);
            continue;
        } else if (action == ZOL_ACTION_NEXT_BEST) {
            step(231, FormatWide(L"    - Installing the next-best driver of %s (%s %s)", device.record.szInstanceId,
                                 device.record.szTargetInf, device.record.szTargetVersion));
        } else if (action == ZOL_ACTION_NO_DRIVER) {
            step(241, FormatWide(L"    - Taking the driver off %s", device.record.szInstanceId));
            DWORD error = ERROR_SUCCESS;
            bool succeeded = RemoveDeviceDriver(device.driver.instanceId.GetString(), &error);
            if (!succeeded)
                failures.push_back(CStr(FormatWide(L"Driver not taken off: %s, error %s", device.record.szInstanceId,
                                                   DescribeError(error).GetString())
                                            .c_str()));
            outcome(device, succeeded, error, FALSE);
            continue;
        } else {
            continue;
        }
        BOOL reboot = FALSE;
        DWORD error = ERROR_SUCCESS;
        bool succeeded = InstallDriverOnDevice(device.driver, device.hardwareId.GetString(),
                                               device.targetPath.GetString(), device.present, &reboot, &error);
        if (!succeeded)
            failures.push_back(CStr(FormatWide(L"Driver not installed: %s from %s, error %s",
                                               device.record.szInstanceId, device.targetPath.GetString(),
                                               DescribeError(error).GetString())
                                        .c_str()));
        outcome(device, succeeded, error, reboot);
    }
    if (!leftToPlatform.empty()) {
        // The platform moves every device still on the package to its next
        // best driver or none, and removes the package.
        CStr infPath = InfFolderPath(published.GetString());
        step(251, FormatWide(L"    - Uninstalling %s from its devices", published.GetString()));
        BOOL reboot = FALSE;
        SetLastError(ERROR_SUCCESS);
        bool succeeded = !infPath.IsEmpty() && packageUninstall.UninstallDriver(infPath.GetString(), &reboot);
        DWORD error = succeeded ? ERROR_SUCCESS : GetLastError();
        if (!succeeded)
            failures.push_back(CStr(FormatWide(L"Driver package not uninstalled: %s, error %s", published.GetString(),
                                               DescribeError(error).GetString())
                                        .c_str()));
        for (UNINSTALLDEVICE* device : leftToPlatform) {
            device->record.nOutcome = succeeded ? ZOL_DEVICE_UPDATED : ZOL_DEVICE_FAILED;
            device->record.dwError = error;
            device->record.bRestart = reboot ? 1 : 0;
        }
        restart = restart || reboot;
        ok = ok && succeeded;
        done(succeeded);
    }

    // The rest depends on no device being left on the package.
    if (ok) {
        // What a driver now on a device uses is not this package's to take.
        CStrList inUse;
        for (const UNINSTALLDEVICE& device : devices) {
            if (device.targetPath.IsEmpty())
                continue;
            DRIVERFOOTPRINT footprint;
            ReadDriverFootprint(device.targetPath.GetString(), device.driver.hardwareIds, &footprint);
            inUse.insert(inUse.end(), footprint.files.begin(), footprint.files.end());
        }
        CStr backups = BackupFolderOf(CInstallRecord::FolderOf(record.Key().GetString()));
        for (const RECORDITEM& item : record.ReadItems(RECORD_FILES)) {
            const std::wstring& path = item.Field(L"path");
            DWORD error = ERROR_SUCCESS;
            if (item.Field(L"action") == L"replaced") {
                step(301, FormatWide(L"    - Putting back %s", path.c_str()));
                CStr backup = infutil::JoinPath(backups.GetString(), item.Field(L"backup").c_str());
                error = IsPlainName(item.Field(L"backup").c_str()) ? PutBackFile(backup.GetString(), path.c_str(), &restart)
                                                                   : ERROR_INVALID_NAME;
            } else {
                bool used = false;
                for (const CStr& file : inUse)
                    used = used || EqualsAsciiNoCase(file.GetString(), path.c_str());
                if (used) {
                    record.RemoveItem(RECORD_FILES, item.name);
                    continue;
                }
                step(311, FormatWide(L"    - Deleting %s", path.c_str()));
                error = DeleteInstalledFile(path.c_str(), &restart);
            }
            done(error == ERROR_SUCCESS);
            if (error == ERROR_SUCCESS) {
                record.RemoveItem(RECORD_FILES, item.name);
            } else {
                ok = false;
                failures.push_back(
                    CStr(FormatWide(L"File not taken back: %s, error %s", path.c_str(), DescribeError(error).GetString())
                             .c_str()));
            }
        }
        for (const RECORDITEM& item : record.ReadItems(RECORD_SERVICES)) {
            const std::wstring& name = item.Field(L"name");
            if (IsServiceUsedByDevices(name.c_str())) {
                record.RemoveItem(RECORD_SERVICES, item.name);
                continue;
            }
            step(321, FormatWide(L"    - Deleting service %s", name.c_str()));
            DWORD error = StopAndDeleteService(name.c_str(), &restart);
            done(error == ERROR_SUCCESS);
            if (error == ERROR_SUCCESS) {
                record.RemoveItem(RECORD_SERVICES, item.name);
            } else {
                ok = false;
                failures.push_back(CStr(
                    FormatWide(L"Service not deleted: %s, error %s", name.c_str(), DescribeError(error).GetString())
                        .c_str()));
            }
        }
        // The INF leaves the INF folder once no device uses it; a device on
        // an earlier version that the platform keeps under the same name
        // (Wine does) still does.
        if (ok && !published.IsEmpty() && FindDevicesUsingInf(published.GetString()).empty()) {
            step(331, FormatWide(L"    - Removing %s from the INF folder", published.GetString()));
            DWORD error = RemovePublishedInf(published.GetString());
            done(error == ERROR_SUCCESS);
            if (error != ERROR_SUCCESS) {
                ok = false;
                failures.push_back(CStr(FormatWide(L"INF not removed: %s, error %s", published.GetString(),
                                                   DescribeError(error).GetString())
                                            .c_str()));
            }
        }
    }
    if (ok) {
        step(341, L"    - Emptying the staging folder");
        CWin2000PnPDriver staging(L"", 0);
        bool emptied = staging.EmptyStagingFolder();
        done(emptied);
        for (const CStr& note : staging.GetNotes())
            m_pLog->WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", note.GetString());
        if (!emptied) {
            ok = false;
            failures.push_back(
                CStr(FormatWide(L"Staging folder not trusted: %s", CWin2000PnPDriver::GetStagingFolder().GetString())
                         .c_str()));
        }
    }

    m_vDeviceResults = ToResults(devices);
    if (!ok) {
        record.SetState(RECORD_STATE_PARTIAL);
        WriteErrorLines(failures);
        CopyMessageText(message, SelectMessage(MSG_UNINSTALL_PARTIAL, language));
        return ZOL_INSTALL_FAILED;
    }

    // The record goes last; the version this one replaced is the installed
    // one again.
    step(351, FormatWide(L"    - Removing the install record %s", record.Key().GetString()));
    CStr replaced = record.ReadValue(RECORD_REPLACES);
    CStr infName = record.ReadValue(RECORD_INF_NAME);
    if (!replaced.IsEmpty())
        CInstallRecord(replaced.GetString()).DeleteValue(RECORD_SUPERSEDED_BY);
    bool forgotten = DeleteRecordFolder(CInstallRecord::FolderOf(record.Key().GetString())) && record.Delete();
    done(forgotten);
    if (!forgotten) {
        record.SetState(RECORD_STATE_PARTIAL);
        WriteErrorLines({CStr(FormatWide(L"Install record not removed: %s, error %s", record.Key().GetString(),
                                         DescribeError(record.LastError()).GetString())
                                  .c_str())});
        CopyMessageText(message, SelectMessage(MSG_UNINSTALL_PARTIAL, language));
        return ZOL_INSTALL_FAILED;
    }
    RetireUninstallEntry(record.Key(), infName);
    return restart ? ZOL_INSTALL_RESTART : ZOL_INSTALL_SUCCESS;
}
