// Prerequisite properties (pending).
#include "basecomp.h"

int CBaseComponent::CheckPrerequisites(PREREQSTATUS* status, int capacity, const wchar_t* language) { return 0; }
int CBaseComponent::IsDiskSpaceAvailable(const wchar_t* drive) { return 0; }
int CBaseComponent::IsHardwarePresent() { return 0; }
int CBaseComponent::IsComponentInstalled() { return 0; }
int CBaseComponent::IsMarkedForRemoval() { return 0; }
