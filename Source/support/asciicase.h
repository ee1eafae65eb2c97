// Comparisons that ignore the case of the letters A to Z only, as the
// component's keyword, language and hardware-ID rules require (independent
// of the process locale).
#pragma once

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
