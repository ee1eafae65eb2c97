// The completeness check of a driver package: every file the platform's
// device installation copies for the devices must be where that installation
// will read it. The PnP install asks it of its staged copy of the package and
// a virtual component's root device of the package folder, each before any
// driver update starts: the platform would refuse an incomplete package, or
// (Wine) retry the copy of a missing file without end.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <functional>

#include "support/str.h"

// Whether the package holds a file, given the file's path relative to the
// INF's folder ("driver.sys", "amd64\driver.sys").
typedef std::function<bool(const wchar_t* relativePath)> PackageFileTest;

struct PACKAGECHECK {
    // The relative paths of the required files the package does not hold,
    // each once (letter case aside), in the order found.
    CStrList missing;
    // The relative paths from the INF that are not a plain file name in a
    // plain relative folder; such a file is never looked for.
    CStrList unsafe;
};

// Checks the files the device installation copies for each hardware ID, in
// order (the install section's and its ".CoInstallers" section's, as
// CInfDriverSection chooses them for this platform), each at the place the
// INF's source layout gives it (CInfSourceLayout). A file counts as held
// when present accepts its relative path or that of its compressed name. An
// ID no model line names requires nothing. True when nothing is missing and
// no name is unsafe.
bool CheckDriverPackageFiles(HINF inf, const CStrList& hardwareIds, const PackageFileTest& present,
                             PACKAGECHECK* result);
