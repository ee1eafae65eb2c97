// fleetdir: the fleet role's folders on a simulated server (a Wine prefix),
// through the same platform calls that the role's PowerShell step makes on a
// Windows server.
//
//   fleetdir inspect PATH   print what PATH is: whether it exists, its
//                           attributes, its owner and access list
//   fleetdir close PATH     look at every level of PATH, from the drive's
//                           root down, and create the missing ones with a
//                           protected access list (full control for SYSTEM
//                           and Administrators, read and run for Users,
//                           nothing inherited from the parent), unless an
//                           existing level is a link or not a folder; a
//                           level that exists is left as it is
//   fleetdir check PATH     look at every level of PATH and create nothing;
//                           then make a new folder with that access list and
//                           an unpredictable name in the account's temporary
//                           folder (for a check that must change nothing),
//                           looking at every level of its path as well
//
// inspect prints one JSON object {"path", "exists", "attributes", "sddl",
// "user"}: "sddl" holds the owner and the access list ("O:...D:..."), "user"
// the SID of the account running fleetdir. close and check print
// {"user", "deploy": FOLDER} and check also "temp": FOLDER, where FOLDER is
// {"path", "levels": [{"path", "exists", "attributes", "sddl"}...],
// "created": [the levels made now], "error": why a level could not be made,
// when one could not}. Each level is read once, a created one after it was
// made. Whether a folder is fit to deploy into is the role's decision, not
// fleetdir's. What a link points to is never read, and nothing is created
// below a link.
#include <windows.h>
#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "support/handles.h"

namespace {

// The access list of the folders the role makes.
const wchar_t kClosedFolder[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL p) { return p != nullptr; }
    static void Close(HLOCAL p) { ::LocalFree(p); }
};
typedef CUniqueResource<HLOCAL, LocalMemoryTraits> CUniqueLocal;

void Write(DWORD stream, const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring ErrorText(const std::wstring& what, DWORD code)
{
    wchar_t number[32];
    wsprintfW(number, L": error %lu", code);
    return what + number;
}

int Fail(const std::wstring& what, DWORD code)
{
    Write(STD_ERROR_HANDLE, L"fleetdir: " + ErrorText(what, code) + L"\r\n");
    return 1;
}

std::wstring Json(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20) {
            wchar_t escaped[8];
            wsprintfW(escaped, L"\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

std::wstring Number(DWORD value)
{
    wchar_t text[16];
    wsprintfW(text, L"%lu", value);
    return text;
}

std::wstring SidText(PSID sid)
{
    CUniqueLocal text;
    if (!ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put())))
        return std::wstring();
    return static_cast<const wchar_t*>(text.get());
}

std::wstring CurrentUser()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return std::wstring();
    CUniqueFile token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, &buffer[0], size, &size))
        return std::wstring();
    return SidText(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid);
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// What one path is: whether it exists and, when it does, its attributes and
// (unless it is a link) its owner and access list.
struct Level {
    std::wstring path;
    bool exists = false;
    DWORD attributes = 0;
    std::wstring sddl;

    std::wstring Fields() const
    {
        std::wstring json = L"\"path\": " + Json(path);
        if (!exists)
            return json + L", \"exists\": false";
        return json + L", \"exists\": true, \"attributes\": " + Number(attributes) + L", \"sddl\": " + Json(sddl);
    }
};

// Reads one level; false (with the error written) when it cannot be read.
bool Look(const std::wstring& path, Level& level)
{
    level = Level();
    level.path = path;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return true;
        Fail(L"cannot read the attributes of " + path, error);
        return false;
    }
    level.exists = true;
    level.attributes = attributes;
    if (IsLink(attributes))
        return true; // what a link points to is not looked at
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    CUniqueLocal descriptor;
    DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, wanted, nullptr, nullptr, nullptr, nullptr,
                                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (error != ERROR_SUCCESS) {
        Fail(L"cannot read the access list of " + path, error);
        return false;
    }
    CUniqueLocal text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1, wanted,
                                                              reinterpret_cast<LPWSTR*>(text.put()), nullptr)) {
        Fail(L"cannot write the access list of " + path + L" as text", GetLastError());
        return false;
    }
    level.sddl = static_cast<const wchar_t*>(text.get());
    return true;
}

// The levels of a full path, from the drive's root ("C:\") down.
std::vector<std::wstring> Levels(const std::wstring& path)
{
    std::vector<std::wstring> levels;
    size_t start = path.size() >= 3 && path[1] == L':' && path[2] == L'\\' ? 3 : path.size();
    if (start == 3)
        levels.push_back(path.substr(0, 3));
    for (size_t at = start; at < path.size();) {
        size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos)
            end = path.size();
        if (end > at)
            levels.push_back(path.substr(0, end));
        at = end + 1;
    }
    return levels;
}

// The folders the role makes: the protected access list, created new.
class ClosedFolders {
public:
    bool Ready()
    {
        return ConvertStringSecurityDescriptorToSecurityDescriptorW(
                   kClosedFolder, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(m_descriptor.put()),
                   nullptr) != FALSE;
    }
    BOOL Create(const std::wstring& path)
    {
        SECURITY_ATTRIBUTES security = {sizeof(security), m_descriptor.get(), FALSE};
        return CreateDirectoryW(path.c_str(), &security);
    }

private:
    CUniqueLocal m_descriptor;
};

enum class Make { Nothing, Missing, New };

// Looks at every level of PATH and, with Make::Missing, creates each missing
// level (with Make::New only the last, which must not exist yet) unless an
// existing level above it is a link or not a folder. Appends the folder's
// JSON; false when a level could not be read.
bool Folder(const std::wstring& path, Make make, ClosedFolders& closed, std::wstring& json)
{
    std::wstring levels, created, error;
    bool blocked = false;
    std::vector<std::wstring> names = Levels(path);
    for (size_t i = 0; i < names.size(); ++i) {
        Level level;
        if (!Look(names[i], level))
            return false;
        bool mayMake = make == Make::Missing || (make == Make::New && i + 1 == names.size());
        if (!level.exists && mayMake && !blocked && error.empty()) {
            if (closed.Create(names[i])) {
                created += (created.empty() ? L"" : L", ") + Json(names[i]);
                if (!Look(names[i], level))
                    return false;
            } else {
                error = ErrorText(L"cannot create " + names[i], GetLastError());
            }
        }
        if (level.exists && make == Make::New && i + 1 == names.size() && created.empty())
            error = L"cannot create " + names[i] + L": it exists already";
        if (level.exists && (IsLink(level.attributes) || !(level.attributes & FILE_ATTRIBUTE_DIRECTORY)))
            blocked = true;
        levels += (levels.empty() ? L"{" : L", {") + level.Fields() + L"}";
    }
    json += L"{\"path\": " + Json(path) + L", \"levels\": [" + levels + L"], \"created\": [" + created + L"]";
    if (!error.empty())
        json += L", \"error\": " + Json(error);
    json += L"}";
    return true;
}

// A new folder name in the account's temporary folder, with a random part
// that nobody can take in advance.
bool TemporaryName(std::wstring& path)
{
    wchar_t base[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH)
        return false;
    std::wstring folder(base, length);
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    unsigned char random[8];
    if (!RtlGenRandom(random, sizeof(random)))
        return false;
    wchar_t name[32];
    wsprintfW(name, L"\\zolfleet-check.%02x%02x%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2], random[3],
              random[4], random[5], random[6], random[7]);
    path = folder + name;
    return true;
}

int Inspect(const std::wstring& path)
{
    Level level;
    if (!Look(path, level))
        return 1;
    Write(STD_OUTPUT_HANDLE, L"{" + level.Fields() + L", \"user\": " + Json(CurrentUser()) + L"}\r\n");
    return 0;
}

int Deploy(const std::wstring& path, bool check)
{
    ClosedFolders closed;
    if (!closed.Ready())
        return Fail(L"cannot make the access list", GetLastError());
    std::wstring json = L"{\"user\": " + Json(CurrentUser()) + L", \"deploy\": ";
    if (!Folder(path, check ? Make::Nothing : Make::Missing, closed, json))
        return 1;
    if (check) {
        std::wstring temporary;
        if (!TemporaryName(temporary))
            return Fail(L"cannot name a temporary folder", GetLastError());
        json += L", \"temp\": ";
        if (!Folder(temporary, Make::New, closed, json))
            return 1;
    }
    Write(STD_OUTPUT_HANDLE, json + L"}\r\n");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring command = argc == 3 ? argv[1] : L"";
    if (command == L"inspect")
        return Inspect(argv[2]);
    if (command == L"close" || command == L"check")
        return Deploy(argv[2], command == L"check");
    Write(STD_OUTPUT_HANDLE, L"usage: fleetdir inspect PATH\r\n       fleetdir close PATH\r\n       fleetdir check PATH\r\n");
    return 87;
}
