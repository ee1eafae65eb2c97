// The string class and registry access, the latter on the real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>
#include <wchar.h>
#include <wctype.h>

#include <string>
#include <utility>
#include <vector>

#include "inf/newdevlibrary.h"
#include "support/asciicase.h"
#include "support/folderpath.h"
#include "support/plainname.h"
#include "support/registrykey.h"
#include "support/str.h"
#include "support/systemlibrary.h"
#include "testsupport.h"

namespace {

TEST(CStr, FindNoCase)
{
    CStr text(L"xxabcxx");
    EXPECT_EQ(text.FindNoCase(L"ABC"), 2);
    EXPECT_EQ(text.FindNoCase(L"abd"), -1);
    EXPECT_EQ(text.FindNoCase(L"XXABCXXX"), -1);
    EXPECT_EQ(text.FindNoCase(nullptr), -1);
    EXPECT_EQ(CStr(L"PCI\\VEN_8086&DEV_0E83").FindNoCase(L"ven_8086&dev_0e83"), 4);
    // The text itself is not changed by the lower-cased comparison.
    EXPECT_STREQ(text.GetString(), L"xxabcxx");
}

TEST(CStr, CompareNoCase)
{
    CStr text(L"Hello");
    EXPECT_EQ(text.CompareNoCase(nullptr), 1);
    EXPECT_EQ(text.CompareNoCase(L"hELLO"), 0);
    EXPECT_LT(CStr(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_GT(CStr(L"b").CompareNoCase(L"A"), 0);
    EXPECT_LT(CStr(L"").CompareNoCase(L"a"), 0);
}

TEST(CStr, GetBufferZeroHoldsTextAndTerminator)
{
    CStr text(L"abc");
    wchar_t* buffer = text.GetBuffer(0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"abc\0", 4));
    buffer[1] = L'X';
    text.ReleaseBuffer(0);
    EXPECT_STREQ(text.GetString(), L"aXc");
}

TEST(CStr, ReleaseBufferTakesCountOrRunsToTheFirstNul)
{
    CStr text(L"ab");
    wcscpy(text.GetBuffer(16), L"hello world");
    text.ReleaseBuffer(5);
    EXPECT_STREQ(text.GetString(), L"hello");

    // A platform call that fills the whole buffer without a terminator: the
    // text stops one short of the buffer's size.
    wchar_t* buffer = text.GetBuffer(10);
    for (int i = 0; i < 10; ++i)
        buffer[i] = static_cast<wchar_t>(L'0' + i);
    text.ReleaseBuffer(0);
    EXPECT_STREQ(text.GetString(), L"012345678");

    // A buffer smaller than the text still receives the whole text.
    CStr longer(L"abcdef");
    longer.GetBuffer(2);
    longer.ReleaseBuffer(0);
    EXPECT_STREQ(longer.GetString(), L"abcdef");

    // Asking again frees the first buffer and copies the current text.
    CStr twice(L"xy");
    twice.GetBuffer(50)[0] = L'Q';
    EXPECT_STREQ(twice.GetBuffer(0), L"xy");
    twice.ReleaseBuffer(0);
    EXPECT_STREQ(twice.GetString(), L"xy");

    // Releasing without a buffer changes nothing.
    twice.ReleaseBuffer(0);
    EXPECT_STREQ(twice.GetString(), L"xy");
}

TEST(CStr, CopiesNeverShareAnOutstandingBuffer)
{
    CStr text(L"abc");
    text.GetBuffer(10);
    {
        CStr copy(text);
        CStr assigned;
        assigned = text;
        EXPECT_STREQ(copy.GetString(), L"abc");
        EXPECT_STREQ(assigned.GetString(), L"abc");
        assigned.ReleaseBuffer(0); // no buffer of its own
        EXPECT_STREQ(assigned.GetString(), L"abc");
        // A move takes the text and leaves the buffer with its string.
        CStr moved(std::move(copy));
        moved.ReleaseBuffer(0);
        EXPECT_STREQ(moved.GetString(), L"abc");
        std::vector<CStr> list(40, text);
        list.emplace_back(L"last");
        EXPECT_STREQ(list[0].GetString(), L"abc");
        EXPECT_STREQ(list[40].GetString(), L"last");
    }
    text.ReleaseBuffer(0);
    EXPECT_STREQ(text.GetString(), L"abc");
    CStr dropped(L"x");
    dropped.GetBuffer(100); // freed by the destructor
}

// The keyword comparison answers as the runtime's _wcsicmp does, also for
// texts the ASCII shortcut cannot decide.
TEST(CaseFolding, EqualsNoCaseAgreesWithTheRuntime)
{
    const wchar_t* const pairs[][2] = {
        {L"pci", L"PCI"},   {L"Pci", L"pcj"},     {L"en", L"en-us"},   {L"", L""},
        {L"[a]", L"[A]"},   {L"@", L"`"},         {L"\x00C9t\x00C9", L"\x00E9T\x00E9"},
        {L"x\x00C9", L"X\x00E9"}, {L"\x00E9", L"e"}, {L"ja\x3042", L"JA\x3042"},
    };
    for (const auto& p : pairs)
        EXPECT_EQ(EqualsNoCase(p[0], p[1]), _wcsicmp(p[0], p[1]) == 0) << "'" << p[0] << "' / '" << p[1] << "'";
    EXPECT_FALSE(EqualsNoCase(nullptr, L"a"));
    EXPECT_FALSE(EqualsNoCase(L"a", nullptr));
}

// Names from package files: what may become a piece of a path.
TEST(PackageNames, PlainNamesSubfoldersAndTheirJoins)
{
    for (const wchar_t* name : {L"a.sys", L"zolchip.inf", L"readme", L".hidden", L"a..b", L"CONSOLE.txt",
                                L"COM\u2074", L"com10.txt", L"nulx", L"x\u00E9.dat"})
        EXPECT_TRUE(IsPlainName(name)) << zoltest::ToUtf8(name);
    for (const wchar_t* name : {L"", L".", L"..", L"..\\x", L"a\\b", L"a/b", L"C:x", L"x:", L"a.", L"a ", L"a\tb",
                                L"a\x7F", L"CON", L"nul.txt", L"Aux.", L"COM1", L"lpt9.log", L"NUL .txt", L"prn.a.b",
                                // Port names the platform also resolves in every folder.
                                L"COM0", L"lpt0.txt", L"COM\u00B9", L"lpt\u00B2.log", L"Com\u00B3"})
        EXPECT_FALSE(IsPlainName(name)) << zoltest::ToUtf8(name);
    EXPECT_FALSE(IsPlainName(nullptr));

    for (const wchar_t* path : {L"sub", L"a\\b\\c", L"\\inf", L"sub\\"})
        EXPECT_TRUE(IsRelativeSubfolder(path)) << zoltest::ToUtf8(path);
    for (const wchar_t* path : {L"", L"\\", L"..", L"a\\..\\b", L"a\\.\\b", L"a\\\\b", L"\\\\server\\share", L"C:\\x",
                                L"C:x", L"a/b", L"nul\\x"})
        EXPECT_FALSE(IsRelativeSubfolder(path)) << zoltest::ToUtf8(path);
    EXPECT_TRUE(IsFullFolderPath(L"C:\\"));
    EXPECT_TRUE(IsFullFolderPath(L"c:\\Program Files\\Zol"));
    for (const wchar_t* path : {L"C:", L"C:sub", L"sub", L"\\x", L"\\\\server\\share", L"C:\\a\\..\\..\\b", L"1:\\a"})
        EXPECT_FALSE(IsFullFolderPath(path)) << zoltest::ToUtf8(path);

    EXPECT_TRUE(StaysInsideFolder(L"C:\\pkg", L"C:\\pkg\\a.sys"));
    EXPECT_TRUE(StaysInsideFolder(L"C:\\pkg\\", L"C:\\PKG\\sub\\a.sys"));
    EXPECT_TRUE(StaysInsideFolder(L"C:", L"C:\\a.sys")); // a drive is its root
    EXPECT_FALSE(StaysInsideFolder(L"C:\\pkg", L"C:\\pkg"));
    EXPECT_FALSE(StaysInsideFolder(L"C:\\pkg", L"C:\\pkg\\..\\a.sys"));
    EXPECT_FALSE(StaysInsideFolder(L"C:\\pkg", L"C:\\pkg2\\a.sys"));
    EXPECT_FALSE(StaysInsideFolder(L"C:\\pkg", L"C:\\pkg\\sub\\..\\..\\x"));
    EXPECT_FALSE(StaysInsideFolder(L"", L"a.sys"));
}

TEST(PackageNames, ControlCharactersAreShownAsHex)
{
    EXPECT_STREQ(EscapeControlChars(L"x\r\n**ERROR** - forged").GetString(), L"x\\x0D\\x0A**ERROR** - forged");
    EXPECT_STREQ(EscapeControlChars(L"\x01tab\there\x7F\x1F").GetString(), L"\\x01tab\\x09here\\x7F\\x1F");
    // Line and paragraph separators, which some viewers break lines at, and
    // the directional controls, which make a viewer show text out of order.
    EXPECT_STREQ(EscapeControlChars(L"a\u2028**ERROR** - b\u2029c").GetString(), L"a\\u2028**ERROR** - b\\u2029c");
    EXPECT_STREQ(EscapeControlChars(L"\u202Efdp.exe\u202A\u202C\u2066\u2069").GetString(),
                 L"\\u202Efdp.exe\\u202A\\u202C\\u2066\\u2069");
    EXPECT_STREQ(EscapeControlChars(L"\u2027\u202F\u2065\u206A").GetString(), L"\u2027\u202F\u2065\u206A");
    // Everything else is kept as it is, backslashes and non-ASCII included.
    EXPECT_STREQ(EscapeControlChars(L"C:\\a b\\\u00E9~").GetString(), L"C:\\a b\\\u00E9~");
    EXPECT_STREQ(EscapeControlChars(L"").GetString(), L"");
    EXPECT_STREQ(EscapeControlChars(nullptr).GetString(), L"");
}

#if defined(__MINGW32__)
extern "C" uintptr_t __stack_chk_guard;
extern "C" void __stack_chk_fail(void);

// The stack protector's guard is seeded at load, and a detected overrun ends
// the process as the platform's own checks do.
// The log's folders and the INF engine's destination folders are made by
// the same routine.
TEST(FolderPath, EveryMissingLevelIsMadeOnEitherSeparator)
{
    std::wstring base = zoltest::MakeTestDir(L"folderpath");
    std::wstring deep = base + L"/a/b\\c/";
    EXPECT_TRUE(CreateFolderPath(deep.c_str()));
    DWORD attributes = GetFileAttributesW((base + L"\\a\\b\\c").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(CreateFolderPath(deep.c_str())); // already there

    ASSERT_TRUE(zoltest::WriteBytes(base + L"\\file", "f"));
    EXPECT_FALSE(CreateFolderPath((base + L"\\file\\sub\\x").c_str()));
    EXPECT_FALSE(CreateFolderPath(nullptr));
    EXPECT_FALSE(CreateFolderPath(L""));
    std::wstring huge = base + L"\\long";
    while (huge.size() < MAX_PATH)
        huge += L"\\e";
    EXPECT_FALSE(CreateFolderPath(huge.c_str()));
    EXPECT_EQ(GetFileAttributesW((base + L"\\long").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(StackGuard, IsSeededAndAnOverrunEndsTheProcess)
{
    EXPECT_NE(__stack_chk_guard, 0u);
    EXPECT_EXIT(__stack_chk_fail(), ::testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)), "");
}
#endif

TEST(CStr, Mid)
{
    CStr text(L"abcdef");
    EXPECT_STREQ(text.Mid(2, 3).GetString(), L"cde");
    EXPECT_STREQ(text.Mid(4, 10).GetString(), L"ef");
    EXPECT_STREQ(text.Mid(0, 0).GetString(), L"");
    EXPECT_STREQ(text.Mid(6, 1).GetString(), L"");
    EXPECT_STREQ(text.Mid(7, 1).GetString(), L""); // a start past the end gives an empty text
}

TEST(CStr, CaseConversionAndFormat)
{
    CStr text(L"Pci\\Ven_8086");
    text.MakeUpper();
    EXPECT_STREQ(text.GetString(), L"PCI\\VEN_8086");
    text.MakeLower();
    EXPECT_STREQ(text.GetString(), L"pci\\ven_8086");
    CStr formatted;
    formatted.Format(L"%s-%d-%S", L"wide", 7, "narrow");
    EXPECT_STREQ(formatted.GetString(), L"wide-7-narrow");
    EXPECT_STREQ(CStr(static_cast<const wchar_t*>(nullptr)).GetString(), L"");
}

// Values under a key of this program's own prefix.
class RegistryKeyTest : public ::testing::Test
{
protected:
    static constexpr const wchar_t* kSubKey = L"Software\\ZolTest\\Support";

    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\ZolTest");
    }
    void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
    void SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
    {
        Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    HKEY m_key = nullptr;
};

TEST_F(RegistryKeyTest, ReadDwordOnlyFromRegDword)
{
    DWORD dword = 0x12345678;
    Set(L"Dword", REG_DWORD, &dword, 4);
    BYTE binary[4] = {1, 2, 3, 4};
    Set(L"Binary4", REG_BINARY, binary, 4);
    Set(L"Text", REG_SZ, L"a", 4);

    CRegistryKey key(kSubKey);
    DWORD value = 0xDEADBEEF;
    EXPECT_EQ(key.ReadDword(L"Dword", &value), 1);
    EXPECT_EQ(value, 0x12345678u);
    value = 0xDEADBEEF;
    EXPECT_EQ(key.ReadDword(L"Binary4", &value), 0);
    EXPECT_EQ(key.ReadDword(L"Text", &value), 0);
    EXPECT_EQ(key.ReadDword(L"Missing", &value), 0);
    EXPECT_EQ(value, 0xDEADBEEFu) << "a failed read leaves the value alone";
}

TEST_F(RegistryKeyTest, ReadStringUpTo129Characters)
{
    SetString(L"Len129", std::wstring(129, L'a'));
    SetString(L"Len130", std::wstring(130, L'b'));
    SetString(L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    SetString(L"Empty", L"");
    Set(L"ZeroBytes", REG_SZ, nullptr, 0);

    CRegistryKey key(kSubKey);
    CStr out(L"unchanged");
    EXPECT_EQ(key.ReadString(L"Len129", &out), 1);
    EXPECT_EQ(std::wstring(out.GetString()), std::wstring(129, L'a'));
    out = L"unchanged";
    EXPECT_EQ(key.ReadString(L"Len130", &out), 0);
    EXPECT_EQ(key.ReadString(L"Expand", &out), 0);
    EXPECT_EQ(key.ReadString(L"Missing", &out), 0);
    EXPECT_STREQ(out.GetString(), L"unchanged");
    EXPECT_EQ(key.ReadString(L"Empty", &out), 1);
    EXPECT_STREQ(out.GetString(), L"");
    out = L"unchanged";
    EXPECT_EQ(key.ReadString(L"ZeroBytes", &out), 1);
    EXPECT_STREQ(out.GetString(), L"");
}

TEST_F(RegistryKeyTest, StringStoredWithoutTerminatorComesBackTerminated)
{
    Set(L"NoNul", REG_SZ, L"abcdef", 6 * sizeof(wchar_t));
    std::wstring full(130, L'z'); // exactly the 260 bytes the read allows
    Set(L"NoNul130", REG_SZ, full.c_str(), 260);

    CRegistryKey key(kSubKey);
    CStr out;
    EXPECT_EQ(key.ReadString(L"NoNul", &out), 1);
    EXPECT_EQ(std::wstring(out.GetString()), L"abcdef");
    // Windows returns these 260 bytes; Wine refuses them. Either way the
    // result is the whole text or nothing, never text read past its end.
    out = L"unchanged";
    if (key.ReadString(L"NoNul130", &out))
        EXPECT_EQ(std::wstring(out.GetString()), full);
    else
        EXPECT_STREQ(out.GetString(), L"unchanged");
}

TEST_F(RegistryKeyTest, OpenExistsAndAccess)
{
    EXPECT_EQ(CRegistryKey(kSubKey).Exists(), 1);
    EXPECT_EQ(CRegistryKey(L"Software\\ZolTest\\NoSuchKey").Exists(), 0);
    EXPECT_EQ(CRegistryKey(L"").Exists(), 0);
    EXPECT_EQ(CRegistryKey(L"").Open(), 0);

    DWORD dword = 7;
    Set(L"Seven", REG_DWORD, &dword, 4);
    CRegistryKey readOnly(kSubKey);
    readOnly.SetAccess(KEY_READ);
    DWORD value = 0;
    EXPECT_EQ(readOnly.ReadDword(L"Seven", &value), 1);
    EXPECT_EQ(value, 7u);
    // Opening twice closes the first handles; Close after Close is harmless.
    EXPECT_EQ(readOnly.Open(), 1);
    EXPECT_EQ(readOnly.Open(), 1);
    readOnly.Close();
    readOnly.Close();
}

TEST_F(RegistryKeyTest, OtherRootsAndTheLocalComputerByName)
{
    HKEY user = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\ZolTest\\User", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &user, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(user, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"hkcu"), 10);
    RegCloseKey(user);
    CRegistryKey userKey(HKEY_CURRENT_USER, L"Software\\ZolTest\\User");
    CStr out;
    EXPECT_EQ(userKey.ReadString(L"Name", &out), 1);
    EXPECT_STREQ(out.GetString(), L"hkcu");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ZolTest");

    SetString(L"Here", L"local");
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    CRegistryKey byName((std::wstring(L"\\\\") + computer).c_str(), kSubKey);
    EXPECT_EQ(byName.ReadString(L"Here", &out), 1);
    EXPECT_STREQ(out.GetString(), L"local");
}

// A stand-in for LoadLibraryExW: records each call; a call with search
// flags fails with g_searchFlagsError when that is set, as a loader that
// does not know them does; anything else is really loaded.
struct LOADCALL {
    std::wstring path;
    DWORD flags;
};
std::vector<LOADCALL> g_loadCalls;
DWORD g_searchFlagsError = 0;

HMODULE WINAPI RecordingLoad(LPCWSTR path, HANDLE file, DWORD flags)
{
    g_loadCalls.push_back({path, flags});
    if ((flags & (LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) && g_searchFlagsError) {
        SetLastError(g_searchFlagsError);
        return nullptr;
    }
    return LoadLibraryExW(path, file, flags);
}

std::wstring LowerCase(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

TEST(SystemLibrary, TakenFromTheSystemFolderByNameOrElseByItsFullPath)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring systemCopy = std::wstring(system) + L"\\version.dll";

    // By name, searched in the system folder only.
    g_loadCalls.clear();
    g_searchFlagsError = 0;
    HMODULE version = LoadSystemLibrary(L"version.dll", RecordingLoad);
    ASSERT_NE(version, nullptr);
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(version, loaded, MAX_PATH);
    EXPECT_EQ(LowerCase(loaded), LowerCase(systemCopy));
    FreeLibrary(version);
    ASSERT_EQ(g_loadCalls.size(), 1u);
    EXPECT_EQ(g_loadCalls[0].path, L"version.dll");
    EXPECT_EQ(g_loadCalls[0].flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));

    // A loader without that flag: the full path in the system folder, its
    // dependencies searched from there on.
    g_loadCalls.clear();
    g_searchFlagsError = ERROR_INVALID_PARAMETER;
    version = LoadSystemLibrary(L"version.dll", RecordingLoad);
    ASSERT_NE(version, nullptr);
    FreeLibrary(version);
    ASSERT_EQ(g_loadCalls.size(), 2u);
    EXPECT_EQ(g_loadCalls[1].path, systemCopy);
    EXPECT_EQ(g_loadCalls[1].flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));

    // Any other failure is the answer, with its error.
    g_loadCalls.clear();
    g_searchFlagsError = ERROR_MOD_NOT_FOUND;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadSystemLibrary(L"version.dll", RecordingLoad), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(g_loadCalls.size(), 1u);

    // A name that is not a plain file name loads nothing.
    g_loadCalls.clear();
    g_searchFlagsError = 0;
    for (const wchar_t* name : {L"..\\version.dll", L"C:\\zoltest\\version.dll", L"sub/version.dll", L"C:version.dll",
                                L"", L".."}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(LoadSystemLibrary(name, RecordingLoad), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    }
    EXPECT_TRUE(g_loadCalls.empty());

    // The host's way: the component's folder and the system folder, or else
    // the same path with the search starting in the component's folder.
    g_loadCalls.clear();
    g_searchFlagsError = ERROR_INVALID_PARAMETER;
    version = LoadLibraryWithFallback(systemCopy.c_str(), LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32,
                                      systemCopy.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH, RecordingLoad);
    ASSERT_NE(version, nullptr);
    FreeLibrary(version);
    ASSERT_EQ(g_loadCalls.size(), 2u);
    EXPECT_EQ(g_loadCalls[0].flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_EQ(g_loadCalls[1].flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
    g_searchFlagsError = 0;
}

// The device installation library is loaded only as the system folder's
// copy; a path anywhere else is refused before anything is loaded.
TEST(SystemLibrary, DeviceInstallationLibraryOnlyFromTheSystemFolder)
{
    CNewDevLibrary library;
    for (const wchar_t* elsewhere : {L"C:\\zoltest\\newdev.dll", L"newdev.dll", L"C:\\windows\\newdev.dll"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(library.Load(elsewhere), 0) << zoltest::ToUtf8(elsewhere);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    }
    CStr systemCopy = SystemLibraryPath(L"newdev.dll");
    systemCopy.MakeUpper();
    EXPECT_EQ(library.Load(systemCopy.GetString()), 1);
    EXPECT_EQ(library.FindUpdateFunction(), 1);
}

} // namespace
