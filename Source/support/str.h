// CStr: the component's growable UTF-16 string.
#pragma once

#include <string>
#include <vector>

class CStr
{
public:
    CStr();
    CStr(const wchar_t* psz);
    CStr(const CStr& other);
    // Moves take the text only, as copies do (a fill-in buffer stays with
    // its string); lists of strings then grow without copying every text.
    CStr(CStr&& other) noexcept;
    virtual ~CStr();

    CStr& operator=(const CStr& other);
    CStr& operator=(CStr&& other) noexcept;
    CStr& operator=(const wchar_t* psz);

    // Pointer to the NUL-terminated text; valid until the next change.
    const wchar_t* GetString() const { return m_str.c_str(); }
    size_t GetLength() const { return m_str.size(); }
    bool IsEmpty() const { return m_str.empty(); }

    // count characters from start; a start past the end gives an empty text,
    // a count past the end is cut.
    CStr Mid(size_t start, size_t count) const;

    // Fill-in buffer of n characters holding a copy of the text (n = 0 means
    // length + 1; a smaller n is raised to length + 1 so the copy always fits).
    wchar_t* GetBuffer(size_t n);
    // Takes the buffer's content as the new text: the first n characters, or
    // (n = 0) up to the first NUL within the buffer's size.
    void ReleaseBuffer(size_t n);

    void MakeUpper();
    void MakeLower();

    // 1 when psz is null, else <0, 0 or >0 as a case-insensitive comparison.
    int CompareNoCase(const wchar_t* psz) const;
    // Position of psz in the text comparing lower-cased copies, or -1.
    int FindNoCase(const wchar_t* psz) const;
    // Position of psz (case-sensitive), or -1.
    int Find(const wchar_t* psz) const;

    CStr& Append(const wchar_t* psz);
    CStr& Append(const wchar_t* pch, size_t count);
    CStr& operator+=(const wchar_t* psz) { return Append(psz); }
    CStr& operator+=(const CStr& s) { return Append(s.GetString()); }
    bool operator==(const CStr& other) const { return m_str == other.m_str; }
    bool operator!=(const CStr& other) const { return m_str != other.m_str; }
    bool Equals(const wchar_t* psz) const { return psz != nullptr && m_str == psz; }
    void Empty() { m_str.clear(); }

    // printf-style formatting with the Windows convention (%s is wide).
    CStr& Format(const wchar_t* fmt, ...);

private:
    std::wstring m_str;
    wchar_t* m_pBuffer;
    unsigned long long m_nBufferLength;
};

typedef std::vector<CStr> CStrList;
