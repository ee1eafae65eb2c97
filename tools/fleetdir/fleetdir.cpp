// fleetdir: the fleet role's deployment folder on a simulated server (a Wine
// prefix), through the same platform calls that the role's PowerShell step
// makes on a Windows server.
//
//   fleetdir inspect PATH   print what PATH is: whether it exists, its
//                           attributes, its owner and access list
//   fleetdir close PATH     create the folder PATH (its parent must exist)
//                           with a protected access list: full control for
//                           SYSTEM and Administrators, read and run for
//                           Users, nothing inherited from the parent; a
//                           folder that exists already is left as it is (the
//                           role has looked at it). Then inspect it.
//
// Both print one JSON object {"path", "exists", "attributes", "sddl", "user"}:
// "sddl" holds the owner and the access list ("O:...D:..."), "user" the SID
// of the account running fleetdir. Whether the folder is fit to deploy into
// is the role's decision, not fleetdir's. What a link points to is never
// read.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "support/handles.h"

namespace {

// The access list of the deployment folder.
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

int Fail(const std::wstring& what, DWORD code, int exitCode = 1)
{
    wchar_t number[32];
    wsprintfW(number, L": error %lu\r\n", code);
    Write(STD_ERROR_HANDLE, L"fleetdir: " + what + number);
    return exitCode;
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

int Inspect(const std::wstring& path)
{
    std::wstring json = L"{\"path\": " + Json(path);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return Fail(L"cannot read the attributes of " + path, error);
        json += L", \"exists\": false";
    } else {
        wchar_t number[16];
        wsprintfW(number, L"%lu", attributes);
        json += L", \"exists\": true, \"attributes\": " + std::wstring(number);
        // What a link points to is not looked at.
        std::wstring sddl;
        if (!IsLink(attributes)) {
            const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
            CUniqueLocal descriptor;
            DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, wanted, nullptr, nullptr, nullptr,
                                                nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
            if (error != ERROR_SUCCESS)
                return Fail(L"cannot read the access list of " + path, error);
            CUniqueLocal text;
            if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1, wanted,
                                                                      reinterpret_cast<LPWSTR*>(text.put()), nullptr))
                return Fail(L"cannot write the access list of " + path + L" as text", GetLastError());
            sddl = static_cast<const wchar_t*>(text.get());
        }
        json += L", \"sddl\": " + Json(sddl);
    }
    Write(STD_OUTPUT_HANDLE, json + L", \"user\": " + Json(CurrentUser()) + L"}\r\n");
    return 0;
}

int Close(const std::wstring& path)
{
    CUniqueLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kClosedFolder, SDDL_REVISION_1,
                                                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                              nullptr))
        return Fail(L"cannot make the access list", GetLastError());
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.get(), FALSE};
    if (!CreateDirectoryW(path.c_str(), &security)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            return Fail(L"cannot create " + path, error);
    }
    return Inspect(path);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"inspect")
        return Inspect(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"close")
        return Close(argv[2]);
    Write(STD_OUTPUT_HANDLE, L"usage: fleetdir inspect PATH\r\n       fleetdir close PATH\r\n");
    return 87;
}
