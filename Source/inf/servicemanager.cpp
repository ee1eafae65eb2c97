#include "inf/servicemanager.h"

CServiceManager::CServiceManager(const wchar_t* machine) : m_strMachine(machine ? machine : L"") {}

CServiceManager::~CServiceManager()
{
    Close();
}

int CServiceManager::Open()
{
    if (m_hManager)
        return 1;
    const wchar_t* machine = m_strMachine.IsEmpty() ? nullptr : m_strMachine.GetString();
    m_hManager.reset(OpenSCManagerW(machine, nullptr, SC_MANAGER_ALL_ACCESS));
    return m_hManager ? 1 : 0;
}

void CServiceManager::Close()
{
    m_hManager.reset();
}
