#include "package/fileversion.h"

#include "support/componentdirectory.h"
#include "support/handles.h"
#include "support/systemlibrary.h"
#include "support/wformat.h"

#include <vector>

namespace {

// Reads one string of the US English, Unicode string table; the value is
// taken up to its terminator or the length the resource states.
bool QueryVersionString(const std::vector<BYTE>& block, const wchar_t* name, CStr* out)
{
    wchar_t query[128];
    if (!FormatWideBuffer(query, 128, L"\\StringFileInfo\\040904B0\\%s", name))
        return false;
    void* value = nullptr;
    UINT length = 0;
    if (!QueryVersionValue(block, query, &value, &length))
        return false;
    const wchar_t* text = static_cast<const wchar_t*>(value);
    const wchar_t* blockEnd = reinterpret_cast<const wchar_t*>(block.data() + block.size());
    size_t count = 0;
    while (count < length && text + count < blockEnd && text[count] != L'\0')
        ++count;
    out->Empty();
    out->Append(text, count);
    return true;
}

} // namespace

CStr CFileVersion::MakeAbsolutePath(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0')
        return CStr();
    // A drive path is kept; anything else (including a path that starts with
    // two backslashes) is taken relative to the component's own directory.
    if (path[1] == L':')
        return CStr(path);
    CStr full = GetComponentDirectory();
    full += L"\\";
    full += path;
    return full;
}

CFileVersion::CFileVersion(const wchar_t* path)
    : m_dwFileVersionMS(0), m_dwFileVersionLS(0), m_dwProductVersionMS(0), m_dwProductVersionLS(0),
      m_dwWriteTimeHigh(0), m_dwWriteTimeLow(0), m_dwFileSize(0)
{
    m_strPath = MakeAbsolutePath(path);
    if (!m_strPath.IsEmpty())
        ReadFromFile();
}

CFileVersion::CFileVersion(DWORD productMS, DWORD productLS, DWORD fileMS, DWORD fileLS, DWORD writeTimeHigh,
                           DWORD writeTimeLow, const wchar_t* companyName, DWORD fileSize)
    : m_strCompanyName(companyName ? companyName : L""), m_dwFileVersionMS(fileMS), m_dwFileVersionLS(fileLS),
      m_dwProductVersionMS(productMS), m_dwProductVersionLS(productLS), m_dwWriteTimeHigh(writeTimeHigh),
      m_dwWriteTimeLow(writeTimeLow), m_dwFileSize(fileSize)
{
}

void CFileVersion::ReadFromFile()
{
    if (m_strPath.IsEmpty())
        return;
    const wchar_t* path = m_strPath.GetString();

    CUniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (file) {
        DWORD size = SetFilePointer(file.get(), 0, nullptr, FILE_END);
        m_dwFileSize = (size == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ? 0 : size;
        FILETIME written = {}, local = {};
        if (GetFileTime(file.get(), nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local)) {
            m_dwWriteTimeHigh = local.dwHighDateTime;
            m_dwWriteTimeLow = local.dwLowDateTime;
        }
        file.reset();
    }

    std::vector<BYTE> block;
    if (!ReadVersionResource(path, block))
        return;
    const VS_FIXEDFILEINFO* fixed = FixedVersionInfo(block);
    if (fixed == nullptr)
        return;
    m_dwFileVersionMS = fixed->dwFileVersionMS;
    m_dwFileVersionLS = fixed->dwFileVersionLS;
    m_dwProductVersionMS = fixed->dwProductVersionMS;
    m_dwProductVersionLS = fixed->dwProductVersionLS;
    QueryVersionString(block, L"CompanyName", &m_strCompanyName);
    QueryVersionString(block, L"InternalName", &m_strInternalName);
    FormatTexts();
}

void CFileVersion::FormatTexts()
{
    m_strProductVersion.Format(L"%d.%d.%d.%d", HIWORD(m_dwProductVersionMS), LOWORD(m_dwProductVersionMS),
                               HIWORD(m_dwProductVersionLS), LOWORD(m_dwProductVersionLS));
    m_strFileVersion.Format(L"%d.%d.%d.%d", HIWORD(m_dwFileVersionMS), LOWORD(m_dwFileVersionMS),
                            HIWORD(m_dwFileVersionLS), LOWORD(m_dwFileVersionLS));

    FILETIME local = {};
    local.dwHighDateTime = m_dwWriteTimeHigh;
    local.dwLowDateTime = m_dwWriteTimeLow;
    SYSTEMTIME time = {};
    m_strDate.Empty();
    m_strTime.Empty();
    if (!FileTimeToSystemTime(&local, &time))
        return;
    wchar_t text[255];
    if (GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, 255) > 0)
        m_strDate = text;
    if (GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_NOSECONDS, &time, nullptr, text, 255) > 0)
        m_strTime = text;
}

bool CFileVersion::HasData() const
{
    return m_dwFileVersionMS != 0 || m_dwFileVersionLS != 0 || m_dwProductVersionMS != 0 ||
           m_dwProductVersionLS != 0 || m_dwWriteTimeHigh != 0 || m_dwWriteTimeLow != 0;
}

bool CFileVersion::IsSameVersion(const CFileVersion& other) const
{
    return m_dwFileVersionMS == other.m_dwFileVersionMS && m_dwFileVersionLS == other.m_dwFileVersionLS;
}

bool CFileVersion::IsNewerThan(const CFileVersion& other) const
{
    if (IsSameVersion(other))
        return false;
    if (m_dwFileVersionMS != other.m_dwFileVersionMS)
        return m_dwFileVersionMS > other.m_dwFileVersionMS;
    return m_dwFileVersionLS > other.m_dwFileVersionLS;
}

CStr CFileVersion::GetFileVersionText() const
{
    return HasData() ? m_strFileVersion : CStr();
}
