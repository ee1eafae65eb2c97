// Package definition and installer description reading (pending).
#include "basecomp.h"

int CBaseComponent::FindPackageDefinitionFile(wchar_t* buffer, int capacity) { return 0; }
int CBaseComponent::ReadPackageDefinition(const wchar_t* path) { return 4; }
int CBaseComponent::ReadInstallerXml(const wchar_t* path) { return 4; }
int CBaseComponent::GetPackageName(wchar_t* buffer, int capacity, const wchar_t* language) { return 0; }
int CBaseComponent::GetPackageDescription(wchar_t* buffer, int capacity, const wchar_t* language) { return 0; }
int CBaseComponent::GetPackageVersion(wchar_t* buffer, int capacity) { return 0; }
