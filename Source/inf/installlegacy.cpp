// Legacy and virtual installation (pending).
#include "basecomp.h"

int CBaseComponent::InstallLegacy(int a, void* b, wchar_t* message, int d, const wchar_t* language) { return 0; }
int CBaseComponent::InstallVirtual(int a, void* b, wchar_t* message, int d, const wchar_t* language) { return 0; }
int CBaseComponent::ServiceControlsAllDevices(const wchar_t* serviceName) { return 0; }
