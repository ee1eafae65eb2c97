// Wide printf-style formatting with the Windows convention: in a wide format
// "%s" takes a wide string and "%S" a narrow one. The C++ runtime's own
// swprintf follows C99 instead, so all wide formatting goes through here.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <string>

// Formats into a string of any length; never cuts.
std::wstring FormatWideV(const wchar_t* fmt, va_list args);
std::wstring FormatWide(const wchar_t* fmt, ...);

// Formats into a fixed buffer of cch characters. Returns true when the whole
// text fit; otherwise the buffer holds the cut text, terminated. cch = 0
// writes nothing.
bool FormatWideBuffer(wchar_t* buffer, size_t cch, const wchar_t* fmt, ...);

// Copies src into a buffer of cch characters when it fits with its
// terminator; returns false and leaves the buffer unchanged otherwise.
bool CopyIfFits(wchar_t* buffer, size_t cch, const wchar_t* src);
// Copies as much of src as fits, always terminating (cch > 0).
void CopyTruncate(wchar_t* buffer, size_t cch, const wchar_t* src);
