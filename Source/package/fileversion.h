// CFileVersion: the version record of one file - its size, last-write time,
// fixed file and product versions and two names from the version resource.
#pragma once

#include <windows.h>

#include "support/str.h"

class CFileVersion
{
public:
    // Reads the file. A path whose second character is not a colon counts as
    // relative and is looked up in the component module's directory.
    explicit CFileVersion(const wchar_t* path);
    // Fills the record from values; reads nothing.
    CFileVersion(DWORD productMS, DWORD productLS, DWORD fileMS, DWORD fileLS, DWORD writeTimeHigh,
                 DWORD writeTimeLow, const wchar_t* companyName, DWORD fileSize);

    void ReadFromFile();
    void FormatTexts();

    // True when any version number or the write time is non-zero.
    bool HasData() const;
    // Compares the file versions only.
    bool IsSameVersion(const CFileVersion& other) const;
    bool IsNewerThan(const CFileVersion& other) const;
    // The file version text, or an empty text when the record has no data.
    CStr GetFileVersionText() const;

    const CStr& GetPath() const { return m_strPath; }
    const CStr& GetProductVersion() const { return m_strProductVersion; }
    const CStr& GetFileVersion() const { return m_strFileVersion; }
    const CStr& GetCompanyName() const { return m_strCompanyName; }
    const CStr& GetInternalName() const { return m_strInternalName; }
    const CStr& GetDate() const { return m_strDate; }
    const CStr& GetTime() const { return m_strTime; }
    DWORD GetFileVersionMS() const { return m_dwFileVersionMS; }
    DWORD GetFileVersionLS() const { return m_dwFileVersionLS; }
    DWORD GetProductVersionMS() const { return m_dwProductVersionMS; }
    DWORD GetProductVersionLS() const { return m_dwProductVersionLS; }
    DWORD GetWriteTimeHigh() const { return m_dwWriteTimeHigh; }
    DWORD GetWriteTimeLow() const { return m_dwWriteTimeLow; }
    DWORD GetFileSize() const { return m_dwFileSize; }

    static CStr MakeAbsolutePath(const wchar_t* path);

private:
    CStr m_strPath;
    CStr m_strProductVersion;
    CStr m_strFileVersion;
    CStr m_strCompanyName;
    CStr m_strInternalName;
    CStr m_strDate;
    CStr m_strTime;
    DWORD m_dwFileVersionMS;
    DWORD m_dwFileVersionLS;
    DWORD m_dwProductVersionMS;
    DWORD m_dwProductVersionLS;
    DWORD m_dwWriteTimeHigh;
    DWORD m_dwWriteTimeLow;
    DWORD m_dwFileSize;
};
