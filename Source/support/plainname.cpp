#include "support/plainname.h"

#include "support/asciicase.h"
#include "support/wformat.h"

#include <wchar.h>

#include <string>
#include <vector>

namespace {

bool IsControl(wchar_t c)
{
    return c < 0x20 || c == 0x7F;
}

// Characters a log viewer may show as a line break, or that reorder the text
// around them on screen: the Unicode line and paragraph separators and the
// directional embeddings, overrides and isolates.
bool IsLayoutControl(wchar_t c)
{
    return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The digit of a port device name: 0 to 9 and the superscripts one, two and
// three, which the platform takes for 1, 2 and 3.
bool IsPortDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The device names the platform resolves in every folder, whatever follows
// a dot: "nul.txt" opens the null device.
bool IsReservedDeviceName(const wchar_t* name, size_t length)
{
    size_t stem = 0;
    while (stem < length && name[stem] != L'.')
        ++stem;
    // Blanks before the dot are dropped by the platform ("NUL .txt").
    while (stem > 0 && name[stem - 1] == L' ')
        --stem;
    wchar_t folded[5] = {};
    if (stem < 3 || stem > 4)
        return false;
    for (size_t i = 0; i < stem; ++i)
        folded[i] = FoldAscii(name[i]);
    static const wchar_t* const kThree[] = {L"con", L"prn", L"aux", L"nul"};
    if (stem == 3) {
        for (const wchar_t* reserved : kThree) {
            if (wcscmp(folded, reserved) == 0)
                return true;
        }
        return false;
    }
    bool port = wcsncmp(folded, L"com", 3) == 0 || wcsncmp(folded, L"lpt", 3) == 0;
    return port && IsPortDigit(folded[3]);
}

// One part of a path, [name, name + length): the plain-name rules.
bool IsPlainPart(const wchar_t* name, size_t length)
{
    if (length == 0)
        return false;
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = name[i];
        if (IsSeparator(c) || c == L':' || IsControl(c))
            return false;
    }
    // "." and ".." end in a dot too.
    if (name[length - 1] == L'.' || name[length - 1] == L' ')
        return false;
    return !IsReservedDeviceName(name, length);
}

// Parts separated by single backslashes; an empty part fails.
bool ArePlainParts(const wchar_t* path)
{
    const wchar_t* part = path;
    for (;;) {
        const wchar_t* end = part;
        while (*end != L'\0' && *end != L'\\')
            ++end;
        if (!IsPlainPart(part, static_cast<size_t>(end - part)))
            return false;
        if (*end == L'\0')
            return true;
        part = end + 1;
    }
}

// The full form of path; empty when the platform cannot make one.
std::wstring FullPath(const wchar_t* path)
{
    DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed + 1, L'\0');
    DWORD length = GetFullPathNameW(path, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size())
        return std::wstring();
    return std::wstring(buffer.data(), length);
}

} // namespace

bool IsPlainName(const wchar_t* name)
{
    return name != nullptr && IsPlainPart(name, wcslen(name));
}

bool IsRelativeSubfolder(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    std::wstring text(path);
    if (!text.empty() && text.front() == L'\\')
        text.erase(0, 1);
    if (!text.empty() && text.back() == L'\\')
        text.pop_back();
    return !text.empty() && ArePlainParts(text.c_str());
}

bool IsFullFolderPath(const wchar_t* path)
{
    if (path == nullptr || wcslen(path) < 3)
        return false;
    wchar_t drive = FoldAscii(path[0]);
    if (drive < L'a' || drive > L'z' || path[1] != L':' || path[2] != L'\\')
        return false;
    return path[3] == L'\0' || IsRelativeSubfolder(path + 3);
}

bool StaysInsideFolder(const wchar_t* folder, const wchar_t* path)
{
    if (folder == nullptr || path == nullptr || *folder == L'\0')
        return false;
    // The folder is taken as a folder: "C:" is the drive's root, as the
    // joins make it, not the drive's current directory.
    std::wstring base(folder);
    if (base.back() != L'\\')
        base += L'\\';
    base = FullPath(base.c_str());
    std::wstring full = FullPath(path);
    if (base.empty() || full.empty())
        return false;
    if (base.back() != L'\\')
        base += L'\\';
    if (full.size() <= base.size())
        return false;
    return CompareStringOrdinal(full.c_str(), static_cast<int>(base.size()), base.c_str(),
                                static_cast<int>(base.size()), TRUE) == CSTR_EQUAL;
}

std::wstring UnsafeFileNameText(const wchar_t* name)
{
    return FormatWide(L"Unsafe file name in package: %s", name ? name : L"");
}

CStr EscapeControlChars(const wchar_t* text)
{
    CStr escaped;
    if (text == nullptr)
        return escaped;
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    const wchar_t* run = text;
    for (const wchar_t* p = text;; ++p) {
        if (*p != L'\0' && !IsControl(*p) && !IsLayoutControl(*p))
            continue;
        escaped.Append(run, static_cast<size_t>(p - run));
        if (*p == L'\0')
            return escaped;
        if (IsControl(*p)) {
            const wchar_t code[] = {L'\\', L'x', kHex[(*p >> 4) & 0xF], kHex[*p & 0xF], L'\0'};
            escaped.Append(code);
        } else {
            const wchar_t code[] = {L'\\', L'u', kHex[(*p >> 12) & 0xF], kHex[(*p >> 8) & 0xF],
                                    kHex[(*p >> 4) & 0xF], kHex[*p & 0xF], L'\0'};
            escaped.Append(code);
        }
        run = p + 1;
    }
}
