// The installed version: the file version of the package's key file, and how
// it compares with the package version.
#include "basecomp.h"
#include "package/fileversion.h"
#include "support/wformat.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

const int kPackageVersionChars = 255;

// Splits a version text at dots the way a standard tokenizer does: runs of
// dots count as one separator, so empty fields are skipped. Up to four
// fields are converted as decimal numbers keeping their low 16 bits; missing
// fields are 0. Returns false when the text holds no field at all.
bool ParseVersionFields(const wchar_t* text, WORD fields[4])
{
    for (int i = 0; i < 4; ++i)
        fields[i] = 0;
    int count = 0;
    const wchar_t* p = text;
    while (*p && count < 4) {
        while (*p == L'.')
            ++p;
        if (*p == L'\0')
            break;
        // The number stops at the first character that is not part of it;
        // the rest of the field up to the next dot is ignored.
        long value = wcstol(p, nullptr, 10);
        fields[count++] = static_cast<WORD>(static_cast<unsigned long>(value) & 0xFFFF);
        while (*p && *p != L'.')
            ++p;
    }
    return count > 0;
}

} // namespace

int CBaseComponent::GetInstalledVersion(wchar_t* buffer, int capacity)
{
    if (buffer == nullptr || capacity <= 0)
        return 0;
    CFileVersion installed(m_strInstalledFilePath.GetString());
    CStr text = installed.GetFileVersionText();
    if (text.IsEmpty())
        return 0;
    return CopyIfFits(buffer, static_cast<size_t>(capacity), text.GetString()) ? 1 : 0;
}

int CBaseComponent::GetInstalledVersionStatus()
{
    CFileVersion installed(m_strInstalledFilePath.GetString());
    if (!installed.HasData())
        return INSTALLED_VERSION_OLDER;

    wchar_t version[kPackageVersionChars] = {};
    if (!GetPackageVersion(version, kPackageVersionChars))
        return INSTALLED_VERSION_OLDER;
    version[kPackageVersionChars - 1] = L'\0';

    WORD fields[4];
    if (!ParseVersionFields(version, fields))
        return INSTALLED_VERSION_OLDER;
    DWORD packageMS = (static_cast<DWORD>(fields[0]) << 16) | fields[1];
    DWORD packageLS = (static_cast<DWORD>(fields[2]) << 16) | fields[3];
    CFileVersion package(0, 0, packageMS, packageLS, 0, 0, nullptr, 0);

    if (installed.IsSameVersion(package))
        return INSTALLED_VERSION_SAME;
    if (installed.IsNewerThan(package))
        return INSTALLED_VERSION_NEWER;
    return INSTALLED_VERSION_OLDER;
}
