#include "inf/devicenodes.h"

#include <setupapi.h>

#include "inf/infplatform.h"
#include "support/changepoint.h"
#include "support/handles.h"
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

DWORD RemoveDeviceNode(const wchar_t* instanceId, bool* restart)
{
    if (instanceId == nullptr || instanceId[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set.valid())
        return GetLastError();
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    if (!SetupDiOpenDeviceInfoW(set.get(), instanceId, nullptr, 0, &data)) {
        DWORD error = GetLastError();
        return error == ERROR_NO_SUCH_DEVINST ? ERROR_SUCCESS : error;
    }
    // Without class install parameters the request removes the device
    // everywhere (every hardware profile), which is what is wanted.
    if (!(ZOL_CHANGE_POINT("DIF_REMOVE", instanceId),
          InfPlatform().pCallClassInstaller(DIF_REMOVE, set.get(), &data))) {
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    }
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    if (restart && SetupDiGetDeviceInstallParamsW(set.get(), &data, &params) &&
        (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0)
        *restart = true;
    return ERROR_SUCCESS;
}
