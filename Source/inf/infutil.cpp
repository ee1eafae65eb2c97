#include "inf/infutil.h"

#include <cwchar>
#include <vector>

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

} // namespace infutil
