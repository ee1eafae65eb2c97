// Legacy and virtual installation over the package's INF file, and the probe
// that tells whether an installed service drives every supported device that
// is present.
#include "basecomp.h"
#include "inf/inf.h"
#include "messages.h"
#include "support/registrykey.h"
#include "support/wformat.h"

int CBaseComponent::InstallInfFile(int isVirtual, wchar_t* message, const wchar_t* language)
{
    CInf inf(m_strInfFile.GetString());
    if (!inf.IsOpen()) {
        WriteErrorLines(CStrList{CStr(FormatWide(L"INF file not opened: %s", m_strInfFile.GetString()).c_str())});
        return ZOL_INSTALL_FAILED;
    }
    if (isVirtual)
        inf.SetVirtual(1);

    int restart = 0;
    int ok = m_strInfSection.IsEmpty() ? inf.InstallAll(&restart)
                                       : inf.InstallFromSection(m_strInfSection.GetString(), &restart);
    if (!ok) {
        // A failed install says what failed; a successful one writes nothing.
        WriteErrorLines(inf.GetFailures());
        if (inf.IsPackageIncomplete())
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
