// PnP driver installation (pending).
#include "basecomp.h"

int CBaseComponent::InstallPnP(int a, void* b, wchar_t* message, int d, const wchar_t* language) { return 0; }
