// Comparisons that ignore the case of the letters A to Z only, as the
// component's keyword, language and hardware-ID rules require (independent
// of the process locale).
#pragma once

#include <wchar.h>

inline wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

inline bool EqualsAsciiNoCase(const wchar_t* a, const wchar_t* b)
{
    if (a == nullptr || b == nullptr)
        return a == b;
    while (*a && *b) {
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
        ++a;
        ++b;
    }
    return *a == *b;
}

// Equal ignoring case as the C runtime's _wcsicmp decides under the process
// locale. Every locale folds the letters A to Z alike and leaves the other
// ASCII characters as they are, so texts made only of ASCII characters are
// compared here, without the runtime taking the locale for each call; a text
// with any other character goes to _wcsicmp.
inline bool EqualsNoCase(const wchar_t* a, const wchar_t* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    for (size_t i = 0;; ++i) {
        const wchar_t x = a[i], y = b[i];
        if (x >= 0x80 || y >= 0x80)
            return _wcsicmp(a + i, b + i) == 0;
        if (FoldAscii(x) != FoldAscii(y))
            return false;
        if (x == 0)
            return true;
    }
}
