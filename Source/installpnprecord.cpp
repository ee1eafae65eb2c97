// The install record of a PnP install: written after the package is staged
// and found complete, before the first driver update; finished once the
// updates are done.
#include "basecomp.h"
#include "devices/devicedrivers.h"
#include "devices/pnpdriver.h"
#include "inf/infdriverfootprint.h"
#include "inf/infutil.h"
#include "inf/servicecontrol.h"
#include "installrecord.h"
#include "packagefiles.h"
#include "support/asciicase.h"
#include "support/errortext.h"
#include "support/wformat.h"

namespace {

bool ListsField(const std::vector<RECORDITEM>& items, const wchar_t* field, const wchar_t* value)
{
    for (const RECORDITEM& item : items) {
        if (EqualsAsciiNoCase(item.Field(field).c_str(), value))
            return true;
    }
    return false;
}

} // namespace

CStr CBaseComponent::GetPackageKey()
{
    wchar_t version[ZOL_TEXT_CHARS] = {};
    if (!GetPackageVersion(version, ZOL_TEXT_CHARS))
        return CStr();
    return CInstallRecord::MakeKey(m_strInfFile.GetString(), version);
}

bool CBaseComponent::RecordPnPInstall(CWin2000PnPDriver& driver, const wchar_t* stagedInf)
{
    CStr key = GetPackageKey();
    // A package without a version cannot be told from another: it is
    // installed without a record, and Uninstall finds it not installed.
    if (key.IsEmpty())
        return true;
    CInstallRecord record(key.GetString());
    auto fail = [&](const wchar_t* what) {
        m_vRecordFailures.push_back(CStr(FormatWide(L"Install record not written: %s, %s, error %s", key.GetString(),
                                                    what, DescribeError(record.LastError()).GetString())
                                             .c_str()));
        return false;
    };

    wchar_t name[ZOL_TEXT_CHARS] = {};
    GetPackageName(name, ZOL_TEXT_CHARS, ZOL_LANG_ENGLISH);
    wchar_t version[ZOL_TEXT_CHARS] = {};
    GetPackageVersion(version, ZOL_TEXT_CHARS);
    if (!record.Create() || !record.SetState(RECORD_STATE_INSTALLING) ||
        !record.WriteValue(RECORD_INF_NAME, m_strInfFile.GetString()) || !record.WriteValue(RECORD_INF_TYPE, L"PNP") ||
        !record.WriteValue(RECORD_VERSION, version) || !record.WriteValue(RECORD_PACKAGE_NAME, name))
        return fail(L"its values");
    m_strRecordKey = key;

    // The package is kept: a later version's uninstall installs it again
    // from there, as the platform's driver store would.
    CStr folder = CInstallRecord::FolderOf(key.GetString());
    std::vector<std::wstring> notes;
    CStr stagingFolder = CWin2000PnPDriver::GetStagingFolder();
    if (!KeepPackageFiles(stagingFolder, driver.GetStagedFiles(), folder, &notes, &m_vRecordFailures))
        return false;
    for (const std::wstring& note : notes)
        m_pLog->WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", note.c_str());

    // An install over a later version that had replaced this one takes
    // that version's place; its record goes once this install succeeds.
    CStr later = record.ReadValue(RECORD_SUPERSEDED_BY);
    if (!later.IsEmpty() && CInstallRecord(later.GetString()).Exists())
        m_strCollapsedKey = later;
    CStr current = m_strCollapsedKey.IsEmpty()
                       ? CInstallRecord::FindCurrent(key.GetString(), m_strInfFile.GetString())
                       : CStr();
    CStr currentInf = current.IsEmpty() ? CStr() : CInstallRecord(current.GetString()).ReadValue(RECORD_PUBLISHED_INF);
    CStr ownInf = record.ReadValue(RECORD_PUBLISHED_INF);

    // Each device with the driver it has now: what Uninstall goes back to.
    // A device already listed keeps what it had before the first install.
    std::vector<RECORDITEM> devices = record.ReadItems(RECORD_DEVICES);
    unsigned long next = CInstallRecord::NextItemNumber(devices);
    for (const SUPPORTEDDEVICE& device : m_vDeviceResults) {
        const wchar_t* instance = device.record.szInstanceId;
        if (*instance == L'\0' || ListsField(devices, L"instance", instance))
            continue;
        DEVICEDRIVER before;
        ReadDeviceDriver(instance, &before);
        // A device on this very package (installed by the platform after an
        // earlier install of it, say) had nothing of its own before.
        if (!ownInf.IsEmpty() && before.inf.CompareNoCase(ownInf.GetString()) == 0 && m_strCollapsedKey.IsEmpty())
            before = DEVICEDRIVER();
        CStr previousPackage;
        if (!currentInf.IsEmpty() && before.inf.CompareNoCase(currentInf.GetString()) == 0)
            previousPackage = current;
        RECORDFIELDS fields = {{L"instance", instance},
                               {L"hardware_id", device.record.szHardwareId},
                               {L"inf", before.inf.GetString()},
                               {L"section", before.section.GetString()},
                               {L"service", before.service.GetString()},
                               {L"version", before.version.GetString()},
                               {L"package", previousPackage.GetString()}};
        if (!record.WriteItem(RECORD_DEVICES, CInstallRecord::ItemName(next++), fields))
            return fail(L"a device");
    }
    if (!current.IsEmpty()) {
        CInstallRecord replaced(current.GetString());
        if (!record.WriteValue(RECORD_REPLACES, current.GetString()) ||
            !replaced.WriteValue(RECORD_SUPERSEDED_BY, key.GetString()))
            return fail(L"the version it replaces");
    }

    // The files the updates copy: one that is there is kept first, so that
    // Uninstall puts it back byte for byte; one that is not is recorded as
    // created. The services they add likewise. What an earlier run of this
    // install recorded stays as it was.
    DRIVERFOOTPRINT footprint;
    ReadDriverFootprint(stagedInf, driver.GetHardwareIds(), &footprint);
    if (!RecordFilesBeforeChange(record, footprint.files, folder, &m_vRecordFailures))
        return false;
    std::vector<RECORDITEM> services = record.ReadItems(RECORD_SERVICES);
    for (const CStr& service : footprint.services) {
        if (ListsField(services, L"name", service.GetString()) || CServiceControl(service.GetString()).ServiceExists())
            continue;
        if (!record.AddItem(RECORD_SERVICES, {{L"name", service.GetString()}, {L"action", L"created"}}))
            return fail(L"a service");
    }
    return true;
}

void CBaseComponent::FinishPnPRecord(int pnpInstallCode)
{
    if (m_strRecordKey.IsEmpty())
        return;
    CInstallRecord record(m_strRecordKey.GetString());
    // The INF as the system's INF folder holds it now, read back from a
    // device the updates reached: the platform may have renamed it.
    if (pnpInstallCode == PNP_INSTALL_DONE || pnpInstallCode == PNP_INSTALL_UPDATE_FAILED) {
        for (const SUPPORTEDDEVICE& device : m_vDeviceResults) {
            DEVICEDRIVER now;
            if (ReadDeviceDriver(device.record.szInstanceId, &now) && !now.inf.IsEmpty()) {
                record.WriteValue(RECORD_PUBLISHED_INF, now.inf.GetString());
                break;
            }
        }
    }
    if (pnpInstallCode != PNP_INSTALL_DONE)
        return;
    // The later version this install replaced back is gone from the
    // devices: its record and kept files go.
    if (!m_strCollapsedKey.IsEmpty()) {
        ForgetRecordChain(m_strCollapsedKey);
        record.DeleteValue(RECORD_SUPERSEDED_BY);
    }
    record.SetState(RECORD_STATE_INSTALLED);
}
