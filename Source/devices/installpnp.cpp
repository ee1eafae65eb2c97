// The plug-and-play install path: the package's INF becomes the driver of
// every supported device that is present.
#include "basecomp.h"
#include "devices/pnpdriver.h"
#include "messages.h"

int CBaseComponent::InstallPnP(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    if (m_vSupportedHardwareIds.empty()) {
        const wchar_t* text = SelectInstallMessage(MSG_NO_SUPPORTED_DEVICES, language);
        CopyMessageText(message, text);
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"%s\r\n", message ? message : text);
        return 0;
    }

    // The update is forced so the package's driver replaces whatever driver
    // the devices have now.
    CWin2000PnPDriver driver(m_strInfFile.GetString(), 1);
    for (const CStr& id : m_vSupportedHardwareIds) {
        if (IsDevicePresent(id.GetString()))
            driver.AddHardwareId(id.GetString());
    }

    int code = driver.InstallDrivers();
    // What the staging changed to make its folder safe is named whatever
    // the outcome.
    for (const CStr& note : driver.GetNotes())
        m_pLog->WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", note.GetString());
    if (code == PNP_INSTALL_DONE)
        return (m_bRebootRequired || driver.IsRebootRequired()) ? 2 : 1;

    // A failed install says what failed; a successful one writes nothing.
    WriteErrorLines(driver.GetFailures());
    switch (code) {
    case PNP_INSTALL_NO_DEVICES:
        CopyMessageText(message, SelectInstallMessage(MSG_NO_DEVICES_FOUND, language));
        return 0;
    case PNP_INSTALL_NO_LIBRARY:
    case PNP_INSTALL_NO_FUNCTION:
    case PNP_INSTALL_INCOMPLETE:
    case PNP_INSTALL_UNSAFE_STAGING:
        CopyMessageText(message, SelectInstallMessage(MSG_INSTALL_ERROR, language));
        return 0;
    default:
        CopyMessageText(message, SelectInstallMessage(MSG_DEVICE_INSTALL_FAILED, language));
        return 0;
    }
}
