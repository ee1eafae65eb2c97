// CInfDriverSection: the part of an INF that a driver update for one
// hardware ID installs on this platform (64-bit x86), chosen the way the
// platform chooses it:
// - the models section of each [Manufacturer] line: the section with the
//   best of the line's decorations that applies here ("NT" or "NTamd64",
//   optionally followed by ".major.minor.producttype"), where best means the
//   highest version not above the system's, then a named architecture over
//   none, then a product type over none; a decoration whose section the INF
//   lacks is passed over, and without one the undecorated section is used.
//   Suite masks and build numbers are not compared;
// - the model line naming the ID: the first whose hardware ID (field 2) is
//   the ID, else the first that lists it as a compatible ID (fields 3 on),
//   letters A to Z compared without regard to case;
// - that line's install section, decorated ".NTamd64", else ".NT", else
//   undecorated, whichever the INF has first.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "support/str.h"

class CInfDriverSection
{
public:
    // For the running system's version and product type.
    explicit CInfDriverSection(HINF inf);
    CInfDriverSection(HINF inf, DWORD major, DWORD minor, DWORD productType);

    // The models section of one [Manufacturer] line; false when the line
    // names none.
    bool ModelsSection(INFCONTEXT* manufacturer, CStr* section) const;
    // The install section for the ID; false when no model line names it.
    bool InstallSection(const wchar_t* hardwareId, CStr* section) const;
    // The source names of the files the device installation copies for the
    // ID ("@file" entries and the lines of the file lists of the install
    // section, then of its ".CoInstallers" section), each once, in order;
    // false when no model line names the ID.
    bool SourceFiles(const wchar_t* hardwareId, CStrList* files) const;

private:
    // Rank of a decoration that applies here (higher is more specific);
    // -1 when it does not apply.
    long long Rank(const CStr& decoration) const;
    bool HasSection(const CStr& section) const;

    HINF m_hInf;
    DWORD m_nMajor;
    DWORD m_nMinor;
    DWORD m_nProductType;
};
