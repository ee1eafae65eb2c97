// Names and texts that come from package files (INF files, the package
// definition) are checked before they become pieces of a path, and made
// harmless before they reach a log.
#pragma once

#include <windows.h>

#include "support/str.h"

#include <string>

// A plain file name: not empty, none of \ / :, not "." or "..", no control
// character, no trailing dot or space, and not a reserved device name (CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, COM and LPT with a superscript
// one, two or three, also with an extension as in "NUL.txt").
bool IsPlainName(const wchar_t* name);

// A folder below another one: plain names joined by single backslashes. One
// leading and one trailing backslash are allowed (the join adds none then);
// no drive, no "." or ".." part, no empty part.
bool IsRelativeSubfolder(const wchar_t* path);

// A full folder path on a drive ("C:\..."), every part after the root a
// plain name.
bool IsFullFolderPath(const wchar_t* path);

// True when path, made full as the platform resolves it, lies below folder
// (made full the same way) and names something other than the folder itself.
bool StaysInsideFolder(const wchar_t* folder, const wchar_t* path);

// The failure text that names a refused file name.
std::wstring UnsafeFileNameText(const wchar_t* name);

// The text with every control character (below 0x20, and 0x7F) shown as
// \xHH (two upper-case hex digits), and the Unicode line and paragraph
// separators and directional controls (U+2028, U+2029, U+202A to U+202E,
// U+2066 to U+2069) as \uHHHH; every other character as it is.
CStr EscapeControlChars(const wchar_t* text);
