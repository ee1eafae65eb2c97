// Where an INF's source layout keeps the files it copies, below the INF's
// folder: the file's line in [SourceDisksFiles] names its disk (field 1) and
// a subfolder (field 2); the disk's line in [SourceDisksNames] names the
// disk's path (field 4). Each of the two lines is taken from the section
// decorated for this platform (".amd64") when that section has it, else from
// the undecorated section, as the platform's device installation reads them.
// A file without a line, or on a disk without one, lies at the top.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "support/str.h"

class CInfSourceLayout
{
public:
    explicit CInfSourceLayout(HINF inf) : m_hInf(inf) {}

    // The subfolder of the file named name: the disk's path, then the
    // file's subfolder, joined by one backslash, without a leading or
    // trailing one ("amd64\sub"); empty at the top. False when the pieces do
    // not make a plain relative folder (a "..", a drive, a root, an empty
    // part) or a piece cannot be read; subfolder then holds the pieces as
    // the INF gives them, for naming.
    bool Subfolder(const wchar_t* name, CStr* subfolder) const;

    // subfolder + "\" + name; name alone for an empty subfolder.
    static CStr RelativePath(const CStr& subfolder, const wchar_t* name);

private:
    // The line with key in the decorated section, else in the plain one.
    bool FindLine(const wchar_t* section, const wchar_t* key, INFCONTEXT* context) const;

    HINF m_hInf;
};
