// CServiceControl: questions about one installed service on the local
// computer. Every question opens the service and the manager connection it
// needs and closes both before it answers.
#pragma once

#include <windows.h>

#include "inf/servicemanager.h"
#include "support/handles.h"
#include "support/str.h"

class CServiceControl
{
public:
    explicit CServiceControl(const wchar_t* serviceName);
    ~CServiceControl();

    CServiceControl(const CServiceControl&) = delete;
    CServiceControl& operator=(const CServiceControl&) = delete;

    // 1 when the service manager knows the service and its registry key
    // opens; else 0.
    int ServiceExists();
    // 1 when the service exists and its "Start" value is 4 (disabled).
    int IsServiceDisabled();
    // 1 when the service is marked for deletion ("DeleteFlag" 1) or its
    // legacy device node is started and marked for removal.
    int IsRemovalPending();

    const CStr& GetName() const { return m_strName; }

private:
    int OpenServiceHandle();
    void CloseServiceHandle();
    CStr ServiceKeyPath() const;

    CStr m_strName;
    CUniqueScHandle m_hService;
    CServiceManager m_Manager;
    CStr m_strMachine;
};

// Stops a service (when it runs) and deletes it. A service that is not there
// is fine; one that does not stop now goes at the next restart (*restart
// set). ERROR_SUCCESS or the platform's error.
DWORD StopAndDeleteService(const wchar_t* serviceName, bool* restart);
