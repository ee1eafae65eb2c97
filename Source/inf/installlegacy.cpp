// Legacy and virtual installation (pending), and the probe that tells whether
// an installed service drives every supported device that is present.
#include "basecomp.h"
#include "support/registrykey.h"
#include "support/wformat.h"

int CBaseComponent::InstallLegacy(int a, void* b, wchar_t* message, int d, const wchar_t* language) { return 0; }
int CBaseComponent::InstallVirtual(int a, void* b, wchar_t* message, int d, const wchar_t* language) { return 0; }

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

    size_t present = 0;
    for (const CStr& id : m_vSupportedHardwareIds) {
        if (IsDevicePresent(id.GetString()))
            ++present;
    }
    return static_cast<size_t>(count) >= present ? 1 : 0;
}
