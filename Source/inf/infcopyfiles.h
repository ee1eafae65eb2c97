// The names a section's "CopyFiles" directives copy, as the platform reads
// them: "@file" names one file; any other value names a file-list section,
// each line of which copies its source name (field 2, or the destination
// name in field 1 when field 2 is absent or empty).
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "support/str.h"

namespace infcopyfiles {

// The values of every "CopyFiles" line of section, in order: each "@file"
// name (without the "@") appended to files, and each other value that names
// a section of the INF with at least one line appended to fileLists.
void ReadCopyFilesLines(HINF inf, const wchar_t* section, CStrList* files, CStrList* fileLists);

// The same for the lines with key (the "DelFiles" and "RenFiles" directives
// take the same values).
void ReadDirectiveLines(HINF inf, const wchar_t* section, const wchar_t* key, CStrList* files,
                        CStrList* fileLists);

// Every file name of a file-list section: fields 1 and 2 of each line when
// they are present and not empty (a copy's destination and source, a
// rename's new and old name, a deleted file).
void ReadFileListNames(HINF inf, const wchar_t* fileList, CStrList* names);

// The source name of each line of a file-list section, in order. A source
// name too long to read adds nothing rather than the wrong name.
void ReadFileListSources(HINF inf, const wchar_t* fileList, CStrList* files);

// The name a file has in a compressed package: the last character of an
// extension of three or more characters replaced by "_" (driver.sys gives
// driver.sy_), "_" appended to a shorter one (a.h gives a.h_), "._" appended
// to a name without a dot (readme gives readme._).
CStr CompressedName(const wchar_t* fileName);

} // namespace infcopyfiles
