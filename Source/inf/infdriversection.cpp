#include "inf/infdriversection.h"

#include <cwchar>
#include <cwctype>

#include "inf/infcopyfiles.h"
#include "inf/infutil.h"
#include "support/asciicase.h"

namespace {

// Longest section name, decoration and hardware ID read from the INF.
const size_t kSectionChars = 255;
const size_t kFieldChars = 255;

const wchar_t* const kInstallDecorations[] = {L".NTamd64", L".NT", L""};

CStr Join(const CStr& section, const wchar_t* dot, const wchar_t* decoration)
{
    CStr name(section);
    name += dot;
    name += decoration;
    return name;
}

// One dot-separated number of a decoration; an empty field is absent.
bool ReadNumber(const wchar_t* begin, const wchar_t* end, bool* present, unsigned long* value)
{
    *present = begin != end;
    *value = 0;
    if (!*present)
        return true;
    if (!iswdigit(*begin))
        return false;
    CStr field;
    field.Append(begin, static_cast<size_t>(end - begin));
    wchar_t* stop = nullptr;
    *value = wcstoul(field.GetString(), &stop, 0);
    return stop != nullptr && *stop == L'\0';
}

void AddOnce(CStrList* list, const CStr& name)
{
    for (const CStr& entry : *list) {
        if (EqualsAsciiNoCase(entry.GetString(), name.GetString()))
            return;
    }
    list->push_back(name);
}

} // namespace

CInfDriverSection::CInfDriverSection(HINF inf) : m_hInf(inf), m_nMajor(0), m_nMinor(0), m_nProductType(0)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        m_nMajor = version.dwMajorVersion;
        m_nMinor = version.dwMinorVersion;
        m_nProductType = version.wProductType;
    }
}

CInfDriverSection::CInfDriverSection(HINF inf, DWORD major, DWORD minor, DWORD productType)
    : m_hInf(inf), m_nMajor(major), m_nMinor(minor), m_nProductType(productType)
{
}

long long CInfDriverSection::Rank(const CStr& decoration) const
{
    const wchar_t* text = decoration.GetString();
    if (FoldAscii(text[0]) != L'n' || FoldAscii(text[1]) != L't')
        return -1;
    const wchar_t* end = text + decoration.GetLength();
    const wchar_t* dot = wcschr(text + 2, L'.');
    if (dot == nullptr)
        dot = end;
    CStr architecture;
    architecture.Append(text + 2, static_cast<size_t>(dot - text - 2));
    if (!architecture.IsEmpty() && !EqualsAsciiNoCase(architecture.GetString(), L"amd64"))
        return -1;

    // major, minor and product type; suite mask and build number are not
    // compared.
    bool present[3] = {};
    unsigned long value[3] = {};
    const wchar_t* field = dot;
    for (int i = 0; i < 3 && field < end; ++i) {
        const wchar_t* next = wcschr(field + 1, L'.');
        if (next == nullptr)
            next = end;
        if (!ReadNumber(field + 1, next, &present[i], &value[i]))
            return -1;
        field = next;
    }
    unsigned long major = value[0], minor = present[1] ? value[1] : 0;
    if (present[0] && (major > m_nMajor || (major == m_nMajor && minor > m_nMinor)))
        return -1;
    bool productType = present[2] && value[2] != 0;
    if (productType && value[2] != m_nProductType)
        return -1;
    if (minor > 0xFFFF)
        minor = 0xFFFF;
    long long rank = static_cast<long long>(major) * 0x10000 + static_cast<long long>(minor);
    return (rank * 2 + (architecture.IsEmpty() ? 0 : 1)) * 2 + (productType ? 1 : 0);
}

bool CInfDriverSection::HasSection(const CStr& section) const
{
    return SetupGetLineCountW(m_hInf, section.GetString()) >= 0;
}

bool CInfDriverSection::ModelsSection(INFCONTEXT* manufacturer, CStr* section) const
{
    if (manufacturer == nullptr || section == nullptr ||
        !infutil::ReadStringField(manufacturer, 1, kSectionChars, section) || section->IsEmpty())
        return false;
    CStr plain(*section);
    long long best = -1;
    DWORD count = SetupGetFieldCount(manufacturer);
    for (DWORD i = 2; i <= count; ++i) {
        CStr decoration;
        if (!infutil::ReadStringField(manufacturer, i, kFieldChars, &decoration) || decoration.IsEmpty())
            continue;
        long long rank = Rank(decoration);
        CStr decorated = Join(plain, L".", decoration.GetString());
        if (rank > best && HasSection(decorated)) {
            best = rank;
            *section = decorated;
        }
    }
    return true;
}

bool CInfDriverSection::InstallSection(const wchar_t* hardwareId, CStr* section) const
{
    if (hardwareId == nullptr || section == nullptr)
        return false;
    section->Empty();
    CStr compatible;
    INFCONTEXT manufacturer;
    if (!SetupFindFirstLineW(m_hInf, L"Manufacturer", nullptr, &manufacturer))
        return false;
    do {
        CStr models;
        INFCONTEXT model;
        if (!ModelsSection(&manufacturer, &models) || !SetupFindFirstLineW(m_hInf, models.GetString(), nullptr, &model))
            continue;
        do {
            DWORD count = SetupGetFieldCount(&model);
            for (DWORD i = 2; i <= count; ++i) {
                CStr id;
                if (!infutil::ReadStringField(&model, i, kFieldChars, &id) ||
                    !EqualsAsciiNoCase(id.GetString(), hardwareId))
                    continue;
                CStr install;
                if (!infutil::ReadStringField(&model, 1, kSectionChars, &install) || install.IsEmpty())
                    break;
                if (i == 2)
                    *section = install;
                else if (compatible.IsEmpty())
                    compatible = install;
                break;
            }
        } while (section->IsEmpty() && SetupFindNextLine(&model, &model));
    } while (section->IsEmpty() && SetupFindNextLine(&manufacturer, &manufacturer));

    if (section->IsEmpty())
        *section = compatible;
    if (section->IsEmpty())
        return false;
    for (const wchar_t* decoration : kInstallDecorations) {
        CStr decorated = Join(*section, L"", decoration);
        if (HasSection(decorated)) {
            *section = decorated;
            break;
        }
    }
    return true;
}

bool CInfDriverSection::SourceFiles(const wchar_t* hardwareId, CStrList* files) const
{
    if (files == nullptr)
        return false;
    files->clear();
    CStr install;
    if (!InstallSection(hardwareId, &install))
        return false;
    // The device installation copies the files of the install section, then
    // those of its co-installers section.
    for (const CStr& section : {install, Join(install, L"", L".CoInstallers")}) {
        CStrList names, fileLists;
        infcopyfiles::ReadCopyFilesLines(m_hInf, section.GetString(), &names, &fileLists);
        for (const CStr& fileList : fileLists)
            infcopyfiles::ReadFileListSources(m_hInf, fileList.GetString(), &names);
        for (const CStr& name : names) {
            if (!name.IsEmpty())
                AddOnce(files, name);
        }
    }
    return true;
}
