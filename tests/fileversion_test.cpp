// Version records of key files and the installed-version status.
#include <gtest/gtest.h>
#include <windows.h>

#include "basecomp.h"
#include "package/fileversion.h"
#include "testsupport.h"

namespace {

// The package version comes from the package definition; here the test
// states it directly.
class VersionComponent : public CBaseComponent
{
public:
    std::wstring packageVersion;
    bool hasPackageVersion = true;
    int GetPackageVersion(wchar_t* buffer, int capacity) override
    {
        if (!hasPackageVersion || packageVersion.size() >= static_cast<size_t>(capacity))
            return 0;
        wcscpy(buffer, packageVersion.c_str());
        return 1;
    }
};

std::wstring KeyDll(const wchar_t* version)
{
    return zoltest::BinPath((std::wstring(L"ver_") + version + L".dll").c_str());
}

int StatusFor(const std::wstring& keyFile, const std::wstring& packageVersion)
{
    VersionComponent component;
    component.SetInstalledFilePath(keyFile.c_str());
    component.packageVersion = packageVersion;
    return component.GetInstalledVersionStatus();
}

} // namespace

TEST(FileVersion, ReadsVersionResourceSizeAndTime)
{
    std::wstring path = KeyDll(L"1_2_3_4");
    CFileVersion version(path.c_str());
    EXPECT_EQ(version.GetPath().GetString(), path);
    EXPECT_EQ(version.GetFileVersionMS(), 0x00010002u);
    EXPECT_EQ(version.GetFileVersionLS(), 0x00030004u);
    EXPECT_EQ(version.GetProductVersionMS(), 0x00090008u);
    EXPECT_EQ(version.GetProductVersionLS(), 0x00070006u);
    EXPECT_STREQ(version.GetFileVersion().GetString(), L"1.2.3.4");
    EXPECT_STREQ(version.GetProductVersion().GetString(), L"9.8.7.6");
    EXPECT_STREQ(version.GetFileVersionText().GetString(), L"1.2.3.4");
    EXPECT_STREQ(version.GetCompanyName().GetString(), L"Zol Test Company");
    EXPECT_STREQ(version.GetInternalName().GetString(), L"ver_1_2_3_4");
    EXPECT_EQ(version.GetFileSize(), static_cast<DWORD>(zoltest::ReadBytes(path).size()));

    // The write time is kept in local time and shown in the system's formats.
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    FILETIME local = {};
    ASSERT_TRUE(FileTimeToLocalFileTime(&data.ftLastWriteTime, &local));
    EXPECT_EQ(version.GetWriteTimeHigh(), local.dwHighDateTime);
    EXPECT_EQ(version.GetWriteTimeLow(), local.dwLowDateTime);
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&local, &st);
    wchar_t date[64], time[64];
    GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 64);
    GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_NOSECONDS, &st, nullptr, time, 64);
    EXPECT_STREQ(version.GetDate().GetString(), date);
    EXPECT_STREQ(version.GetTime().GetString(), time);
    EXPECT_FALSE(version.GetTime().IsEmpty());
}

TEST(FileVersion, MissingFileAndFileWithoutResource)
{
    std::wstring dir = zoltest::MakeTestDir(L"fv_plain");
    CFileVersion missing((dir + L"\\absent.sys").c_str());
    EXPECT_FALSE(missing.HasData());
    EXPECT_TRUE(missing.GetFileVersionText().IsEmpty());
    EXPECT_EQ(missing.GetFileSize(), 0u);

    std::wstring plain = dir + L"\\plain.sys";
    ASSERT_TRUE(zoltest::WriteBytes(plain, "no version resource here"));
    CFileVersion noResource(plain.c_str());
    EXPECT_TRUE(noResource.HasData()); // its write time
    EXPECT_EQ(noResource.GetFileVersionMS(), 0u);
    EXPECT_EQ(noResource.GetFileSize(), 24u);
    EXPECT_TRUE(noResource.GetFileVersionText().IsEmpty());
    EXPECT_TRUE(noResource.GetCompanyName().IsEmpty());

    CFileVersion empty(L"");
    EXPECT_TRUE(empty.GetPath().IsEmpty());
    EXPECT_FALSE(empty.HasData());
}

TEST(FileVersion, ComparesFileVersionsAsUnsignedNumbers)
{
    CFileVersion a(0, 0, 0x00010002, 0x00030004, 0, 0, nullptr, 0);
    CFileVersion sameFileOtherProduct(7, 7, 0x00010002, 0x00030004, 1, 1, L"x", 5);
    CFileVersion higherLow(0, 0, 0x00010002, 0x00030005, 0, 0, nullptr, 0);
    CFileVersion topBit(0, 0, 0x80000000, 0, 0, 0, nullptr, 0);
    EXPECT_TRUE(a.IsSameVersion(sameFileOtherProduct));
    EXPECT_FALSE(a.IsNewerThan(sameFileOtherProduct));
    EXPECT_TRUE(higherLow.IsNewerThan(a));
    EXPECT_FALSE(a.IsNewerThan(higherLow));
    EXPECT_TRUE(topBit.IsNewerThan(higherLow));
    EXPECT_FALSE(higherLow.IsNewerThan(topBit));
}

TEST(InstalledVersionStatus, ComparesKeyFileWithPackageVersion)
{
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L"1.2.3.4"), 1);
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_0"), L"1.2.3"), 1);     // missing fields are 0
    EXPECT_EQ(StatusFor(KeyDll(L"2_1_0_0"), L"2.1"), 1);
    EXPECT_EQ(StatusFor(KeyDll(L"2_0_0_0"), L"10.0.0.0"), 0);  // numeric, not textual
    EXPECT_EQ(StatusFor(KeyDll(L"1_10_0_0"), L"1.9.0.0"), 2);
    EXPECT_EQ(StatusFor(KeyDll(L"1_10_0_0"), L"1.9"), 2);
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L"1.2.3.5"), 0);
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L"1.2.3.3"), 2);
    EXPECT_EQ(StatusFor(KeyDll(L"65535_65535_65535_65535"), L"1.0"), 2);
}

TEST(InstalledVersionStatus, TokenizerRules)
{
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_4464_0"), L"1.2.70000"), 1); // low 16 bits kept
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_0"), L"1..2.3"), 1);       // empty fields skipped
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_0"), L"..1.2...3."), 1);
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L" 1. 2.+3.4abc"), 1); // white space, sign, trailing junk
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L"1.2.3.4.9"), 1);     // a fifth field is ignored
    EXPECT_EQ(StatusFor(KeyDll(L"65535_65535_65535_65535"), L"-1.-1.-1.-1"), 1);
    EXPECT_EQ(StatusFor(KeyDll(L"1_0_0_0"), L"1.x.0.0"), 1);       // no digits gives 0
}

TEST(InstalledVersionStatus, UnreadableVersionsCountAsOlder)
{
    std::wstring dir = zoltest::MakeTestDir(L"fv_status");
    // No key file: older, whatever the package says.
    EXPECT_EQ(StatusFor(dir + L"\\absent.sys", L"0.0.0.0"), 0);
    // A key file without a version resource reads as 0.0.0.0.
    std::wstring plain = dir + L"\\plain.sys";
    ASSERT_TRUE(zoltest::WriteBytes(plain, "x"));
    EXPECT_EQ(StatusFor(plain, L"0.0.0.0"), 1);
    EXPECT_EQ(StatusFor(plain, L"0"), 1);
    EXPECT_EQ(StatusFor(plain, L"1.0"), 0);
    // No usable package version.
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L""), 0);
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), L"..."), 0);
    EXPECT_EQ(StatusFor(KeyDll(L"1_2_3_4"), std::wstring(300, L'1')), 0); // does not fit
    VersionComponent component;
    component.SetInstalledFilePath(KeyDll(L"1_2_3_4").c_str());
    component.hasPackageVersion = false;
    EXPECT_EQ(component.GetInstalledVersionStatus(), 0);
}

TEST(InstalledVersion, CopiesTheFileVersionTextOnlyWhenItFits)
{
    VersionComponent component;
    component.SetInstalledFilePath(KeyDll(L"1_10_0_0").c_str());
    wchar_t buffer[16];
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(component.GetProperty(3, buffer, 16, nullptr), 1);
    EXPECT_STREQ(buffer, L"1.10.0.0");
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(component.GetInstalledVersion(buffer, 8), 0); // exactly as long as the buffer
    EXPECT_EQ(buffer[0], L'#');
    EXPECT_EQ(component.GetInstalledVersion(buffer, 9), 1);
    EXPECT_STREQ(buffer, L"1.10.0.0");
    EXPECT_EQ(component.GetInstalledVersion(nullptr, 9), 0);

    std::wstring dir = zoltest::MakeTestDir(L"fv_text");
    std::wstring plain = dir + L"\\plain.sys";
    ASSERT_TRUE(zoltest::WriteBytes(plain, "x"));
    component.SetInstalledFilePath(plain.c_str());
    EXPECT_EQ(component.GetInstalledVersion(buffer, 16), 0);
    component.SetInstalledFilePath((dir + L"\\absent.sys").c_str());
    EXPECT_EQ(component.GetInstalledVersion(buffer, 16), 0);
}

TEST(InstalledVersion, RelativeKeyFileIsFoundBesideTheComponent)
{
    // The component module lives in one directory, the current directory is
    // another; both hold drivers\key.sys with different versions.
    std::wstring moduleDir = zoltest::MakeTestDir(L"fv_module");
    std::wstring currentDir = zoltest::MakeTestDir(L"fv_current");
    CreateDirectoryW((moduleDir + L"\\drivers").c_str(), nullptr);
    CreateDirectoryW((currentDir + L"\\drivers").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(KeyDll(L"1_2_3_4").c_str(), (moduleDir + L"\\drivers\\key.sys").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(KeyDll(L"2_0_0_0").c_str(), (currentDir + L"\\drivers\\key.sys").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(KeyDll(L"1_0_0_0").c_str(), (moduleDir + L"\\component.dll").c_str(), FALSE));

    HMODULE module = LoadLibraryW((moduleDir + L"\\component.dll").c_str());
    ASSERT_NE(module, nullptr);
    wchar_t previousDir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previousDir);
    SetCurrentDirectoryW(currentDir.c_str());
    g_hModule = module;

    VersionComponent component;
    component.SetInstalledFilePath(L"drivers\\key.sys");
    component.packageVersion = L"1.2.3.4";
    wchar_t buffer[32] = {};
    int got = component.GetInstalledVersion(buffer, 32);
    int status = component.GetInstalledVersionStatus();
    CFileVersion record(L"drivers\\key.sys");

    g_hModule = nullptr;
    SetCurrentDirectoryW(previousDir);
    FreeLibrary(module);

    EXPECT_EQ(got, 1);
    EXPECT_STREQ(buffer, L"1.2.3.4");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(record.GetPath().CompareNoCase((moduleDir + L"\\drivers\\key.sys").c_str()), 0);
}
