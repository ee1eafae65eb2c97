#include "inf/servicecontrol.h"

#include <cfg.h>

#include "support/changepoint.h"
#include "support/registrykey.h"

namespace {

// Device-node status bits of a started device that will be removed.
const DWORD kRemovalPendingStatus = DN_WILL_BE_REMOVED | DN_STARTED;

} // namespace

CServiceControl::CServiceControl(const wchar_t* serviceName)
    : m_strName(serviceName ? serviceName : L""), m_Manager(nullptr)
{
    m_Manager.Open();
}

CServiceControl::~CServiceControl()
{
    // The service handle goes before the manager connection it came from.
    CloseServiceHandle();
    m_Manager.Close();
}

int CServiceControl::OpenServiceHandle()
{
    if (m_hService)
        return 1;
    if (m_strName.IsEmpty() || !m_Manager.Open())
        return 0;
    m_hService.reset(::OpenServiceW(m_Manager.GetHandle(), m_strName.GetString(), SERVICE_ALL_ACCESS));
    return m_hService ? 1 : 0;
}

void CServiceControl::CloseServiceHandle()
{
    m_hService.reset();
}

CStr CServiceControl::ServiceKeyPath() const
{
    CStr path(L"System\\CurrentControlSet\\Services\\");
    path += m_strName;
    return path;
}

int CServiceControl::ServiceExists()
{
    if (!OpenServiceHandle())
        return 0;
    CloseServiceHandle();
    m_Manager.Close();
    CRegistryKey key(m_strMachine.GetString(), ServiceKeyPath().GetString());
    return key.Exists();
}

int CServiceControl::IsServiceDisabled()
{
    if (!ServiceExists())
        return 0;
    CRegistryKey key(m_strMachine.GetString(), ServiceKeyPath().GetString());
    DWORD start = 0;
    return key.ReadDword(L"Start", &start) && start == SERVICE_DISABLED ? 1 : 0;
}

int CServiceControl::IsRemovalPending()
{
    if (ServiceExists()) {
        CRegistryKey key(m_strMachine.GetString(), ServiceKeyPath().GetString());
        DWORD deleteFlag = 0;
        if (key.ReadDword(L"DeleteFlag", &deleteFlag) && deleteFlag == 1)
            return 1;
    }
    CStr nodePath(L"System\\CurrentControlSet\\Enum\\Root\\LEGACY_");
    nodePath += m_strName;
    nodePath += L"\\0000";
    CRegistryKey node(m_strMachine.GetString(), nodePath.GetString());
    node.SetAccess(KEY_READ);
    DWORD status = 0;
    return node.ReadDword(L"StatusFlags", &status) && status == kRemovalPendingStatus ? 1 : 0;
}

DWORD StopAndDeleteService(const wchar_t* serviceName, bool* restart)
{
    if (serviceName == nullptr || *serviceName == L'\0')
        return ERROR_INVALID_NAME;
    CUniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return GetLastError();
    CUniqueScHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        DWORD error = GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
    }
    // A running service is asked to stop; one that cannot stop now is
    // deleted all the same and goes when it stops, at the latest at the
    // next restart.
    SERVICE_STATUS status = {};
    bool running = QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
    if (running &&
        !(ZOL_CHANGE_POINT("ControlService(stop)", serviceName),
          ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) &&
        restart)
        *restart = true;
    if (!(ZOL_CHANGE_POINT("DeleteService", serviceName), DeleteService(service.get()))) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_MARKED_FOR_DELETE)
            return error;
    }
    return ERROR_SUCCESS;
}
