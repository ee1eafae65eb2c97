#include <gtest/gtest.h>
#include <windows.h>

TEST(Smoke, LoadsComponent)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    *wcsrchr(exe, L'\\') = 0;
    std::wstring dll = std::wstring(exe) + L"\\zolcomp.dll";
    HMODULE h = LoadLibraryW(dll.c_str());
    ASSERT_NE(h, nullptr) << GetLastError();
    auto fn = reinterpret_cast<int(WINAPI*)(int*)>(GetProcAddress(h, "GetInterfaceVersion"));
    ASSERT_NE(fn, nullptr);
    int v = 0;
    EXPECT_EQ(fn(&v), 1);
    EXPECT_EQ(v, 100);
    FreeLibrary(h);
}
