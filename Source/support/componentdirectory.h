// Where the component's own module lives: the package's files are looked up
// next to it.
#pragma once

#include <windows.h>

#include "support/str.h"

// The module handle of the component library (set by DllMain; null in a
// program that links the framework directly, which then stands for itself).
extern HMODULE g_hModule;

// Directory of the component's own module, without a trailing backslash.
CStr GetComponentDirectory();
