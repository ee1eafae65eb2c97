#include "inf/devicenodes.h"

#include "support/registrykey.h"
#include "support/str.h"

namespace {

int DeviceNodeExists(const wchar_t* prefix, const wchar_t* serviceName)
{
    if (serviceName == nullptr || serviceName[0] == L'\0')
        return 0;
    CStr name(serviceName);
    name.MakeUpper();
    CStr path(L"System\\CurrentControlSet\\Enum\\Root\\");
    path += prefix;
    path += name;
    path += L"\\0000";
    CRegistryKey key(HKEY_LOCAL_MACHINE, path.GetString());
    key.SetAccess(KEY_READ);
    return key.Exists();
}

} // namespace

int HasLegacyDeviceNode(const wchar_t* serviceName)
{
    return DeviceNodeExists(L"LEGACY_", serviceName);
}

int HasRootDeviceNode(const wchar_t* serviceName)
{
    return DeviceNodeExists(L"", serviceName);
}
