// CInf install operations (pending): every one answers failure and changes
// nothing.
#include "inf/inf.h"

int CInf::InstallAll(int* pRebootNeeded) { return 0; }
int CInf::InstallFromSection(const wchar_t* section, int* pRebootNeeded) { return 0; }
int CInf::CreateRootDevice(int* pRebootNeeded) { return 0; }
int CInf::InstallSection(const wchar_t* section, HKEY hRootKey) { return 0; }
int CInf::InstallServices(const wchar_t* section) { return 0; }
int CInf::InstallSoftwareSettings(const wchar_t* section) { return 0; }
void CInf::CreateStartMenuItems() {}
int CInf::CreateDeviceInfo(CUniqueDevInfo* pDevInfo, SP_DEVINFO_DATA* pDevInfoData, const wchar_t* instanceName)
{
    return 0;
}
