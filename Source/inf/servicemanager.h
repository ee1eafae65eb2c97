// CServiceManager: a connection to the service control manager of one
// computer (the local one when the machine name is empty).
#pragma once

#include <windows.h>

#include "support/handles.h"
#include "support/str.h"

class CServiceManager
{
public:
    explicit CServiceManager(const wchar_t* machine = nullptr);
    ~CServiceManager();

    CServiceManager(const CServiceManager&) = delete;
    CServiceManager& operator=(const CServiceManager&) = delete;

    // Connects with full access when no connection is held. 1 or 0.
    int Open();
    void Close();
    int IsOpen() const { return m_hManager.valid() ? 1 : 0; }
    SC_HANDLE GetHandle() const { return m_hManager.get(); }
    const CStr& GetMachine() const { return m_strMachine; }

private:
    CStr m_strMachine;
    CUniqueScHandle m_hManager;
};
