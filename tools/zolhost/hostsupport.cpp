#include "hostsupport.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

std::wstring HostFormat(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int needed = _vscwprintf(fmt, args);
    va_end(args);
    if (needed <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
    va_start(args, fmt);
    _vsnwprintf(buffer.data(), buffer.size() - 1, fmt, args);
    va_end(args);
    return std::wstring(buffer.data());
}

bool ContainsIgnoringCase(const wchar_t* text, const wchar_t* pattern)
{
    auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    std::wstring t(text ? text : L""), p(pattern ? pattern : L"");
    return !p.empty() && std::search(t.begin(), t.end(), p.begin(), p.end(), [&](wchar_t a, wchar_t b) {
                             return fold(a) == fold(b);
                         }) != t.end();
}
