#include "support/wformat.h"

#include <stdio.h>
#include <wchar.h>
#include <cstring>
#include <vector>

std::wstring FormatWideV(const wchar_t* fmt, va_list args)
{
    if (fmt == nullptr)
        return std::wstring();
    va_list probe;
    va_copy(probe, args);
    int needed = _vscwprintf(fmt, probe);
    va_end(probe);
    if (needed <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1);
    va_list copy;
    va_copy(copy, args);
    int written = _vsnwprintf(buffer.data(), buffer.size(), fmt, copy);
    va_end(copy);
    if (written < 0)
        written = needed;
    buffer[static_cast<size_t>(written)] = L'\0';
    return std::wstring(buffer.data(), static_cast<size_t>(written));
}

std::wstring FormatWide(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::wstring s = FormatWideV(fmt, args);
    va_end(args);
    return s;
}

bool FormatWideBuffer(wchar_t* buffer, size_t cch, const wchar_t* fmt, ...)
{
    if (buffer == nullptr || cch == 0)
        return false;
    va_list args;
    va_start(args, fmt);
    std::wstring s = FormatWideV(fmt, args);
    va_end(args);
    bool fits = s.size() < cch;
    size_t n = fits ? s.size() : cch - 1;
    std::wmemcpy(buffer, s.c_str(), n);
    buffer[n] = L'\0';
    return fits;
}

bool CopyIfFits(wchar_t* buffer, size_t cch, const wchar_t* src)
{
    if (buffer == nullptr || src == nullptr)
        return false;
    size_t len = wcslen(src);
    if (len >= cch)
        return false;
    std::wmemcpy(buffer, src, len + 1);
    return true;
}

void CopyTruncate(wchar_t* buffer, size_t cch, const wchar_t* src)
{
    if (buffer == nullptr || cch == 0)
        return;
    size_t len = src ? wcslen(src) : 0;
    if (len >= cch)
        len = cch - 1;
    if (len)
        std::wmemcpy(buffer, src, len);
    buffer[len] = L'\0';
}
