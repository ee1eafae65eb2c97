#include "support/str.h"

#include "support/wformat.h"

#include <cwctype>
#include <cstring>
#include <cwchar>
#include <stdarg.h>

#include <utility>

CStr::CStr() : m_pBuffer(nullptr), m_nBufferLength(0) {}

CStr::CStr(const wchar_t* psz) : m_str(psz ? psz : L""), m_pBuffer(nullptr), m_nBufferLength(0) {}

CStr::CStr(const CStr& other) : m_str(other.m_str), m_pBuffer(nullptr), m_nBufferLength(0) {}

CStr::CStr(CStr&& other) noexcept : m_str(std::move(other.m_str)), m_pBuffer(nullptr), m_nBufferLength(0) {}

CStr::~CStr()
{
    delete[] m_pBuffer;
}

CStr& CStr::operator=(const CStr& other)
{
    if (this != &other)
        m_str = other.m_str;
    return *this;
}

CStr& CStr::operator=(CStr&& other) noexcept
{
    if (this != &other)
        m_str = std::move(other.m_str);
    return *this;
}

CStr& CStr::operator=(const wchar_t* psz)
{
    m_str = psz ? psz : L"";
    return *this;
}

CStr CStr::Mid(size_t start, size_t count) const
{
    if (start > m_str.size())
        return CStr();
    return CStr(m_str.substr(start, count).c_str());
}

wchar_t* CStr::GetBuffer(size_t n)
{
    if (n == 0 || n < m_str.size() + 1)
        n = m_str.size() + 1;
    delete[] m_pBuffer;
    m_pBuffer = new wchar_t[n];
    m_nBufferLength = n;
    std::wmemcpy(m_pBuffer, m_str.c_str(), m_str.size() + 1);
    return m_pBuffer;
}

void CStr::ReleaseBuffer(size_t n)
{
    if (m_pBuffer == nullptr)
        return;
    if (n != 0) {
        if (n > m_nBufferLength)
            n = static_cast<size_t>(m_nBufferLength);
        m_str.assign(m_pBuffer, n);
    } else {
        m_pBuffer[m_nBufferLength - 1] = L'\0';
        m_str.assign(m_pBuffer);
    }
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_nBufferLength = 0;
}

void CStr::MakeUpper()
{
    wchar_t* p = GetBuffer(0);
    for (wchar_t* q = p; *q; ++q)
        *q = static_cast<wchar_t>(std::towupper(*q));
    ReleaseBuffer(0);
}

void CStr::MakeLower()
{
    wchar_t* p = GetBuffer(0);
    for (wchar_t* q = p; *q; ++q)
        *q = static_cast<wchar_t>(std::towlower(*q));
    ReleaseBuffer(0);
}

int CStr::CompareNoCase(const wchar_t* psz) const
{
    if (psz == nullptr)
        return 1;
    return _wcsicmp(m_str.c_str(), psz);
}

int CStr::FindNoCase(const wchar_t* psz) const
{
    if (psz == nullptr)
        return -1;
    CStr text(*this), pattern(psz);
    text.MakeLower();
    pattern.MakeLower();
    return text.Find(pattern.GetString());
}

int CStr::Find(const wchar_t* psz) const
{
    if (psz == nullptr)
        return -1;
    size_t pos = m_str.find(psz);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CStr& CStr::Append(const wchar_t* psz)
{
    if (psz)
        m_str.append(psz);
    return *this;
}

CStr& CStr::Append(const wchar_t* pch, size_t count)
{
    if (pch)
        m_str.append(pch, count);
    return *this;
}

CStr& CStr::Format(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    m_str = FormatWideV(fmt, args);
    va_end(args);
    return *this;
}
