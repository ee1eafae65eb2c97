// Small helpers of the INF engine: path joining and splitting, bounded INF
// field reads and environment look-ups. Every read has a defined result for
// values longer than its limit: the value counts as unreadable.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <stddef.h>

#include "support/str.h"

namespace infutil {

// Longest path the engine builds or accepts (one fixed path buffer, less its
// terminator).
const size_t kMaxPath = MAX_PATH - 1;

// dir + name with one backslash between them: none is added when dir ends in
// a backslash or name begins with one.
CStr JoinPath(const wchar_t* dir, const wchar_t* name);

// True when path is not longer than kMaxPath.
bool FitsPath(const CStr& path);

// Drive and directory of path, with the directory's trailing separator
// (C:\pkg\drv.inf gives C:\pkg\ ); empty when path holds no directory.
CStr DirectoryPart(const wchar_t* path);

// Offset of the file name within path (just after the last separator or the
// drive's colon).
size_t FileNameOffset(const wchar_t* path);

// Field `index` of an INF line (0 is the key) into out, at most maxChars
// characters. A missing field or a longer value gives false and an empty out.
bool ReadStringField(INFCONTEXT* context, DWORD index, size_t maxChars, CStr* out);

// Field `index` as a number (the platform's base rules: 0x hex, leading 0
// octal). False when the field is missing or not a number.
bool ReadIntField(INFCONTEXT* context, DWORD index, int* out);

// Text of the line with `key` in `section`, at most maxChars characters.
// False when the line is missing or its text is longer.
bool ReadLineText(HINF hInf, const wchar_t* section, const wchar_t* key, size_t maxChars, CStr* out);

// Value of an environment variable of the process; false (and an empty out)
// when it is not set or empty.
bool GetEnvironmentValue(const wchar_t* name, CStr* out);

// The names of the sections of the INF file at infPath, in file order, as
// the profile reader sees the file (the one place section names are read).
// The buffer grows until the whole list fits, as the platform's device
// installation sees every section; a list that does not fit even in
// maxChars characters loses its last name, which may be cut, rather than
// take it for a different section.
const DWORD kMaxSectionNamesChars = 1UL << 22;
CStrList ReadSectionNames(const wchar_t* infPath, DWORD maxChars = kMaxSectionNamesChars);

} // namespace infutil
