// Legacy and virtual installation over the package's INF file, and the probe
// that tells whether an installed service drives every supported device that
// is present.
#include "basecomp.h"
#include "inf/inf.h"
#include "support/registrykey.h"
#include "support/wformat.h"

namespace {

// The whole INF, or the named install section with its companions. 0
// failure, 1 success, 2 success with a restart needed (the package asks for
// one, or a file or the device install was deferred to the next restart).
int InstallInfFile(const CStr& infFile, const CStr& section, int rebootRequired, int isVirtual)
{
    CInf inf(infFile.GetString());
    if (!inf.IsOpen())
        return 0;
    if (isVirtual)
        inf.SetVirtual(1);

    int restart = 0;
    int ok = section.IsEmpty() ? inf.InstallAll(&restart) : inf.InstallFromSection(section.GetString(), &restart);
    if (!ok)
        return 0;
    return (rebootRequired || restart == 1) ? 2 : 1;
}

} // namespace

int CBaseComponent::InstallLegacy(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return InstallInfFile(m_strInfFile, m_strInfSection, m_bRebootRequired, 0);
}

int CBaseComponent::InstallVirtual(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return InstallInfFile(m_strInfFile, m_strInfSection, m_bRebootRequired, 1);
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
