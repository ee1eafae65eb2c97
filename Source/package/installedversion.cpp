// Installed-version probing (pending).
#include "basecomp.h"

int CBaseComponent::GetInstalledVersion(wchar_t* buffer, int capacity) { return 0; }
int CBaseComponent::GetInstalledVersionStatus() { return 0; }
