// The plug-and-play install path: the package's INF becomes the driver of
// every supported device that is present.
#include "basecomp.h"
#include "devices/installevents.h"
#include "devices/pnpdriver.h"
#include "messages.h"

namespace {

const DWORD kPendingInstallWaitMs = ZOL_INSTALL_WAIT_MS;

} // namespace

void CBaseComponent::WaitForPendingDeviceInstalls()
{
    // Nothing pending, or a platform that cannot tell: no wait, no line.
    if (WaitNoPendingInstallEvents(0) != WAIT_TIMEOUT)
        return;
    m_pLog->WriteLine(LOG_BOTH, SEV_INFO, BASECOMP_SOURCE, 1208, L"Waiting for pending device installations... ");
    if (WaitNoPendingInstallEvents(kPendingInstallWaitMs) == WAIT_OBJECT_0)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
    else
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"Gave up after %lu s.\r\n",
                          static_cast<unsigned long>(kPendingInstallWaitMs / 1000));
}

int CBaseComponent::InstallPnP(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    m_vDeviceResults.clear();
    m_bDeviceResultsRecorded = 1;
    if (m_vSupportedHardwareIds.empty()) {
        const wchar_t* text = SelectInstallMessage(MSG_NO_SUPPORTED_DEVICES, language);
        CopyMessageText(message, text);
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"%s\r\n", message ? message : text);
        return ZOL_INSTALL_FAILED;
    }

    // The update is forced so the package's driver replaces whatever driver
    // the devices have now.
    CWin2000PnPDriver driver(m_strInfFile.GetString(), 1);
    for (const CStr& id : m_vSupportedHardwareIds) {
        if (IsDevicePresent(id.GetString()))
            driver.AddHardwareId(id.GetString());
    }

    // The devices the updates act on, as they are before them: those the
    // presence test's list found listing the IDs, each looked at again. A
    // second enumeration of every device of the machine would cost about
    // what a driver update's own search for its devices costs; it is made
    // only when the list lacks a device's instance ID.
    if (!driver.GetHardwareIds().empty()) {
        CStrList instances;
        if (FindPresentDeviceInstances(driver.GetHardwareIds(), &instances))
            m_vDeviceResults = FindSupportedDevicesAmong(instances, driver.GetHardwareIds());
        else
            m_vDeviceResults = FindSupportedDevices(driver.GetHardwareIds());
        WaitForPendingDeviceInstalls();
    }

    // What the updates change is recorded before the first of them, so that
    // Uninstall can take it back.
    m_strRecordKey.Empty();
    m_strCollapsedKey.Empty();
    m_vRecordFailures.clear();
    driver.SetBeforeUpdates([this, &driver](const wchar_t* stagedInf) { return RecordPnPInstall(driver, stagedInf); });
    int code = driver.InstallDrivers();
    FinishPnPRecord(code);
    RecordDeviceOutcomes(code, driver.GetUpdateOutcomes());
    // What the staging changed to make its folder safe is named whatever
    // the outcome.
    for (const CStr& note : driver.GetNotes())
        m_pLog->WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", note.GetString());
    if (code == PNP_INSTALL_DONE)
        return (m_bRebootRequired || driver.IsRebootRequired()) ? ZOL_INSTALL_RESTART : ZOL_INSTALL_SUCCESS;

    // A failed install says what failed; a successful one writes nothing.
    WriteErrorLines(driver.GetFailures());
    WriteErrorLines(m_vRecordFailures);
    switch (code) {
    case PNP_INSTALL_NO_DEVICES:
        CopyMessageText(message, SelectInstallMessage(MSG_NO_DEVICES_FOUND, language));
        return ZOL_INSTALL_FAILED;
    case PNP_INSTALL_NO_LIBRARY:
    case PNP_INSTALL_NO_FUNCTION:
    case PNP_INSTALL_INCOMPLETE:
    case PNP_INSTALL_UNSAFE_STAGING:
    case PNP_INSTALL_NOT_RECORDED:
        CopyMessageText(message, SelectInstallMessage(MSG_INSTALL_ERROR, language));
        return ZOL_INSTALL_FAILED;
    default:
        CopyMessageText(message, SelectInstallMessage(MSG_DEVICE_INSTALL_FAILED, language));
        return ZOL_INSTALL_FAILED;
    }
}

void CBaseComponent::RecordDeviceOutcomes(int code, const std::vector<UPDATEOUTCOME>& outcomes)
{
    switch (code) {
    case PNP_INSTALL_NO_LIBRARY: MarkNotAttempted(m_vDeviceResults, ZOL_REASON_LIBRARY_MISSING); break;
    case PNP_INSTALL_NO_FUNCTION: MarkNotAttempted(m_vDeviceResults, ZOL_REASON_FUNCTION_MISSING); break;
    case PNP_INSTALL_INCOMPLETE: MarkNotAttempted(m_vDeviceResults, ZOL_REASON_PACKAGE_REFUSED); break;
    case PNP_INSTALL_UNSAFE_STAGING: MarkNotAttempted(m_vDeviceResults, ZOL_REASON_STAGING_UNSAFE); break;
    case PNP_INSTALL_NOT_RECORDED: MarkNotAttempted(m_vDeviceResults, ZOL_REASON_NOT_RECORDED); break;
    default: ApplyUpdateOutcomes(m_vDeviceResults, outcomes); break;
    }
}

int CBaseComponent::GetDeviceResults(ZOL_DEVICE_RESULTS* out, int capacity)
{
    if (!m_bDeviceResultsRecorded)
        return CopyDeviceResults(FindSupportedDevices(m_vSupportedHardwareIds), out, capacity);
    // The driver each device has now, after the install.
    ReadCurrentDrivers(m_vDeviceResults);
    return CopyDeviceResults(m_vDeviceResults, out, capacity);
}
