#include "inf/infutil.h"

#include <cwchar>
#include <vector>

namespace {

// Room for the section names at the first read: enough for most INFs.
const DWORD kFirstSectionNamesChars = 0x4000;

} // namespace

namespace infutil {

CStr JoinPath(const wchar_t* dir, const wchar_t* name)
{
    CStr result(dir);
    const wchar_t* n = name ? name : L"";
    size_t len = result.GetLength();
    bool dirEndsInSlash = len > 0 && result.GetString()[len - 1] == L'\\';
    if (!dirEndsInSlash && n[0] != L'\\')
        result.Append(L"\\");
    result.Append(n);
    return result;
}

bool FitsPath(const CStr& path)
{
    return path.GetLength() <= kMaxPath;
}

size_t FileNameOffset(const wchar_t* path)
{
    if (path == nullptr)
        return 0;
    size_t offset = 0;
    for (size_t i = 0; path[i] != L'\0'; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':')
            offset = i + 1;
    }
    return offset;
}

CStr DirectoryPart(const wchar_t* path)
{
    CStr result;
    if (path)
        result.Append(path, FileNameOffset(path));
    return result;
}

bool ReadStringField(INFCONTEXT* context, DWORD index, size_t maxChars, CStr* out)
{
    if (out == nullptr)
        return false;
    out->Empty();
    if (context == nullptr)
        return false;
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    if (!SetupGetStringFieldW(context, index, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr))
        return false; // missing, or longer than maxChars (error 122)
    buffer.back() = L'\0';
    *out = buffer.data();
    return true;
}

bool ReadIntField(INFCONTEXT* context, DWORD index, int* out)
{
    if (context == nullptr || out == nullptr)
        return false;
    INT value = 0;
    if (!SetupGetIntField(context, index, &value))
        return false;
    *out = value;
    return true;
}

bool ReadLineText(HINF hInf, const wchar_t* section, const wchar_t* key, size_t maxChars, CStr* out)
{
    if (out == nullptr)
        return false;
    out->Empty();
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    if (!SetupGetLineTextW(nullptr, hInf, section, key, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr))
        return false;
    buffer.back() = L'\0';
    *out = buffer.data();
    return true;
}

bool GetEnvironmentValue(const wchar_t* name, CStr* out)
{
    if (out == nullptr)
        return false;
    out->Empty();
    if (name == nullptr)
        return false;
    // The value can grow between the two calls; try a few times.
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    for (int attempt = 0; attempt < 4 && needed != 0; ++attempt) {
        std::vector<wchar_t> buffer(needed + 1, L'\0');
        DWORD got = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0)
            break;
        if (got < buffer.size()) {
            *out = buffer.data();
            return true;
        }
        needed = got;
    }
    return false;
}

CStrList ReadSectionNames(const wchar_t* infPath, DWORD maxChars)
{
    CStrList names;
    if (infPath == nullptr || infPath[0] == L'\0' || maxChars < 3)
        return names;

    // The reader says a list was cut by returning the buffer's size less two.
    DWORD size = maxChars < kFirstSectionNamesChars ? maxChars : kFirstSectionNamesChars;
    std::vector<wchar_t> buffer;
    DWORD got = 0;
    for (;;) {
        // Two terminators past the reader's room, ours whatever it wrote.
        buffer.assign(static_cast<size_t>(size) + 2, L'\0');
        got = GetPrivateProfileSectionNamesW(buffer.data(), size, infPath);
        if (got < size - 2 || size >= maxChars)
            break;
        size = size > maxChars / 2 ? maxChars : size * 2;
    }
    bool cut = got >= size - 2;
    if (got > size)
        got = size;

    const wchar_t* p = buffer.data();
    const wchar_t* end = buffer.data() + got;
    while (p < end && *p != L'\0') {
        size_t len = wcslen(p);
        if (cut && p + len >= end)
            break;
        names.push_back(CStr(p));
        p += len + 1;
    }
    return names;
}

} // namespace infutil
