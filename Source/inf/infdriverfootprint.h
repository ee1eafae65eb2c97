// What a device installation from an INF puts on the system for a set of
// hardware IDs, read from the INF alone: the files it copies (at their
// destinations) and the services it adds. The PnP install keeps what it is
// about to replace and records what it creates; the uninstall takes both
// back, and leaves alone what the driver it moves a device to uses.
#pragma once

#include "support/str.h"

struct DRIVERFOOTPRINT {
    // Full destination paths, each once (letter case aside), in INF order.
    CStrList files;
    // The services the install section's ".Services" section adds.
    CStrList services;
};

// The footprint of the install sections (with their ".CoInstallers"
// sections) the INF at infPath has for hardwareIds on this platform. A name
// that is not plain, or a destination the INF does not resolve, is left out.
// False when the INF does not open.
bool ReadDriverFootprint(const wchar_t* infPath, const CStrList& hardwareIds, DRIVERFOOTPRINT* footprint);
