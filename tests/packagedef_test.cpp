// Package definition and installer description reading, and the getters
// answered from the package definition.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <string>

#include "basecomp.h"
#include "component.h"
#include "package/xmlreader.h"
#include "testsupport.h"

namespace {

// Each test works in its own directory, made current for the component.
class PackageFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = zoltest::MakeTestDir(L"pkg_" + zoltest::FromUtf8(name));
        ASSERT_TRUE(SetCurrentDirectoryW(m_dir.c_str()));
    }
    void TearDown() override { SetCurrentDirectoryW(L"C:\\"); }

    void Write(const std::wstring& name, const std::wstring& text)
    {
        ASSERT_TRUE(zoltest::WriteUtf8(m_dir + L"\\" + name, text));
    }
    // Writes a package definition holding body and reads it into component.
    int ReadPackage(CBaseComponent& component, const std::wstring& body)
    {
        static int serial = 0;
        std::wstring name = L"qx" + std::to_wstring(++serial) + L".xml";
        Write(name, L"<zol_package>" + body + L"</zol_package>");
        return component.ReadPackageDefinition(name.c_str());
    }
    int ReadInstaller(CBaseComponent& component, const std::wstring& body)
    {
        Write(L"install.xml", L"<zol_install>" + body + L"</zol_install>");
        return component.ReadInstallerXml(L"install.xml");
    }

    std::wstring m_dir;
};

std::wstring Name(CBaseComponent& c, const wchar_t* language, int capacity = 260)
{
    wchar_t buffer[512] = L"untouched";
    return c.GetPackageName(buffer, capacity, language) ? buffer : L"<0>";
}

std::wstring Description(CBaseComponent& c, const wchar_t* language)
{
    wchar_t buffer[1024] = L"untouched";
    return c.GetPackageDescription(buffer, 1024, language) ? buffer : L"<0>";
}

std::wstring Version(CBaseComponent& c, int capacity = 64)
{
    wchar_t buffer[64] = L"untouched";
    return c.GetPackageVersion(buffer, capacity) ? buffer : L"<0>";
}

std::wstring DeviceData(const std::wstring& name, const std::wstring& text)
{
    return L"<supported_device_data name='" + name + L"'>" + text + L"</supported_device_data>";
}

std::wstring Devices(const std::wstring& ands)
{
    return L"<prerequisites><supported_devices>" + ands + L"</supported_devices></prerequisites>";
}

std::wstring Device(const std::wstring& type, const std::wstring& data)
{
    return L"<supported_devices_and><supported_device type='" + type + L"'>" + data +
           L"</supported_device></supported_devices_and>";
}

std::wstring KeyCandidate(const std::wstring& name, const std::wstring& directory)
{
    std::wstring key = name.empty() ? L"<sw_key>" : L"<sw_key name='" + name + L"'>";
    return L"<sw_keys_and>" + key + L"<sw_key_expectedpath>" + directory + L"</sw_key_expectedpath></sw_key></sw_keys_and>";
}

} // namespace

TEST_F(PackageFiles, FindsTheFirstFileHoldingAPackageDefinition)
{
    CBaseComponent component;
    wchar_t path[MAX_PATH] = L"untouched";
    EXPECT_EQ(component.FindPackageDefinitionFile(path, MAX_PATH), 0);

    Write(L"qxa.xml", L"<zol_install/>");
    Write(L"qxb.xml", L"<zol_package>");
    Write(L"package.xml", L"<zol_package/>");
    EXPECT_EQ(component.FindPackageDefinitionFile(path, MAX_PATH), 0);

    Write(L"qxc.xml", L"<zol_package/>");
    ASSERT_EQ(component.FindPackageDefinitionFile(path, MAX_PATH), 1);
    EXPECT_STREQ(path, L"qxc.xml");
    // A name the buffer cannot hold is not handed back cut.
    EXPECT_EQ(component.FindPackageDefinitionFile(path, 7), 0);
    EXPECT_EQ(component.FindPackageDefinitionFile(path, 8), 1);
    EXPECT_EQ(component.FindPackageDefinitionFile(nullptr, MAX_PATH), 0);
}

TEST_F(PackageFiles, ReadsTheSamplePackage)
{
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_dir));
    CBaseComponent component;
    wchar_t path[MAX_PATH] = {};
    ASSERT_EQ(component.FindPackageDefinitionFile(path, MAX_PATH), 1);
    EXPECT_STREQ(path, L"qx012345.xml");
    ASSERT_EQ(component.ReadPackageDefinition(path), 0);
    EXPECT_EQ(component.ReadPackageDefinition(path), 1);

    EXPECT_STREQ(component.GetPackageFileName(), L"qx012345");
    EXPECT_EQ(Name(component, L"en"), L"Server Chipset Device Driver");
    EXPECT_EQ(Name(component, L"DE"), L"Treiber f\x00FCr Server-Chipsatzger\x00E4te");
    EXPECT_EQ(Name(component, L"it"), L"Server Chipset Device Driver");
    EXPECT_EQ(Name(component, L"ja").substr(0, 4), L"\u30B5\u30FC\u30D0\u30FC");
    EXPECT_EQ(Description(component, L"fr").substr(0, 36), L"Installe le pilote des p\x00E9riph\x00E9riques");
    EXPECT_EQ(Version(component), L"1.2.3.0");
    EXPECT_EQ(component.IsSilentCapable(), 1);
    EXPECT_EQ(component.IsRebootRequired(), 0);
    EXPECT_EQ(component.GetRequiredDiskSpace(), 2048u);
    EXPECT_STREQ(component.GetInstalledFilePath().GetString(), L"C:\\windows\\system32\\drivers\\zolchip.sys");

    // The devices are built-in ones, in the reader's order (first, then the
    // later ones from last to second).
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_STREQ(ids[0].GetString(), CComponent::kBuiltInHardwareIds[0]);
    EXPECT_STREQ(ids[1].GetString(), CComponent::kBuiltInHardwareIds[2]);
    EXPECT_STREQ(ids[2].GetString(), CComponent::kBuiltInHardwareIds[1]);

    const auto& systems = component.GetSupportedOperatingSystems();
    ASSERT_EQ(systems.size(), 4u);
    EXPECT_STREQ(systems[0].szPlatform, L"nt_x86-64");
    EXPECT_EQ(systems[0].nMajor, 6);
    EXPECT_EQ(systems[0].nMinor, 1);
    EXPECT_EQ(systems[0].nServicePack, -1);
    EXPECT_EQ(systems[0].wEdition, 0xFFFF);
    EXPECT_EQ(component.IsOperatingSystemSupported(), 1);

    ASSERT_EQ(component.ReadInstallerXml(L"install.xml"), 0);
    EXPECT_STREQ(component.GetInfFileName(), L"zolchip.inf");
    EXPECT_EQ(component.GetInfType(), INF_TYPE_PNP);
    EXPECT_TRUE(component.GetServiceName().IsEmpty());
    EXPECT_STREQ(component.GetShellExecuteFile(), L"");
}

TEST_F(PackageFiles, ReadResultsAndMissingStructure)
{
    CBaseComponent noPath;
    EXPECT_EQ(noPath.ReadPackageDefinition(nullptr), 4);
    EXPECT_EQ(noPath.GetPackageReader(), nullptr);
    EXPECT_EQ(Name(noPath, L"en"), L"<0>");
    EXPECT_EQ(Description(noPath, nullptr), L"<0>");
    EXPECT_EQ(Version(noPath), L"<0>");

    CBaseComponent missing;
    EXPECT_EQ(missing.ReadPackageDefinition(L"qxmissing.xml"), 3);
    EXPECT_NE(missing.GetPackageReader(), nullptr);
    EXPECT_EQ(missing.ReadPackageDefinition(L"qxmissing.xml"), 1);
    EXPECT_EQ(Name(missing, L"en"), L"<0>");

    CBaseComponent malformed;
    Write(L"qxbad.xml", L"<zol_package><name></zol_package>");
    EXPECT_EQ(malformed.ReadPackageDefinition(L"qxbad.xml"), 5);
    EXPECT_EQ(Version(malformed), L"<0>");

    // Another document element: nothing is filled, nothing is answered.
    CBaseComponent other;
    Write(L"qxother.xml", L"<package><filename>qx1.exe</filename><version value='1.0'/>"
                          L"<name><name_xlate lang='en'>N</name_xlate></name></package>");
    EXPECT_EQ(other.ReadPackageDefinition(L"qxother.xml"), 0);
    EXPECT_STREQ(other.GetPackageFileName(), L"");
    EXPECT_EQ(Name(other, L"en"), L"<0>");
    EXPECT_EQ(Description(other, L"en"), L"<0>");
    EXPECT_EQ(Version(other), L"<0>");
    EXPECT_EQ(other.IsSilentCapable(), 1);
}

TEST_F(PackageFiles, FileNameLosesItsExtensionAndFitsItsField)
{
    struct Case {
        std::wstring text;
        std::wstring stored;
    } cases[] = {
        {L"qx012345.exe", L"qx012345"},
        {L"qx1.exe", L"qx1"},
        {L"abcd", L""},                              // nothing left once the extension is cut
        {L"ab", L""},                                // shorter than an extension
        {std::wstring(127, L'q') + L".exe", std::wstring(127, L'q')}, // the longest stem that fits whole
        {std::wstring(200, L'q') + L".exe", std::wstring(127, L'q')}, // a longer stem keeps its start
    };
    for (const Case& c : cases) {
        CBaseComponent component;
        ASSERT_EQ(ReadPackage(component, L"<filename>" + c.text + L"</filename>"), 0);
        EXPECT_EQ(std::wstring(component.GetPackageFileName()), c.stored) << zoltest::ToUtf8(c.text);
    }
    // A name that is not a plain file name, or whose stem is not one, would
    // name the verbose log outside the log folder: it is refused and kept.
    const Case refused[] = {
        {L"..\\..\\victim.exe", L"..\\..\\victim.exe"}, {L"sub\\qx1.exe", L"sub\\qx1.exe"},
        {L"C:qx1.exe", L"C:qx1.exe"}, {L"NUL.exe", L"NUL.exe"}, {L"qx. .exe", L"qx. .exe"},
        {L"a&lt;b:c.exe", L"a<b:c.exe"},
    };
    for (const Case& c : refused) {
        CBaseComponent component;
        ASSERT_EQ(ReadPackage(component, L"<filename>" + c.text + L"</filename>"), 0);
        EXPECT_STREQ(component.GetPackageFileName(), L"") << zoltest::ToUtf8(c.text);
        ASSERT_EQ(component.GetRefusedNames().size(), 1u) << zoltest::ToUtf8(c.text);
        EXPECT_EQ(std::wstring(component.GetRefusedNames()[0].GetString()), c.stored);
    }
    // Indented text is not stored by the reader, so the name stays empty.
    CBaseComponent indented;
    ASSERT_EQ(ReadPackage(indented, L"<filename>\n  qx012345.exe\n</filename>"), 0);
    EXPECT_STREQ(indented.GetPackageFileName(), L"");
}

TEST_F(PackageFiles, KeyFileCandidates)
{
    for (const wchar_t* sub : {L"\\one", L"\\two", L"\\three"})
        CreateDirectoryW((m_dir + sub).c_str(), nullptr);
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\two\\key.sys", "x"));
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\three\\key.sys", "x"));
    SetEnvironmentVariableW(L"ZOLKEYDIR", m_dir.c_str());

    // Document order one, two, three is tried as one, three, two.
    CBaseComponent ordered;
    ASSERT_EQ(ReadPackage(ordered, L"<sw_keys>" + KeyCandidate(L"key.sys", L"%ZOLKEYDIR%\\one") +
                                       KeyCandidate(L"", L"%ZOLKEYDIR%\\two\\") +
                                       KeyCandidate(L"", L"%ZOLKEYDIR%\\three") + L"</sw_keys>"),
              0);
    EXPECT_EQ(std::wstring(ordered.GetInstalledFilePath().GetString()), m_dir + L"\\three\\key.sys");

    // Without an existing file the first candidate stays; a directory ending
    // in a backslash gets no second one.
    CBaseComponent fallback;
    ASSERT_EQ(ReadPackage(fallback, L"<sw_keys>" + KeyCandidate(L"zolchip.sys", L"%SystemRoot%\\system32\\drivers\\") +
                                        KeyCandidate(L"other.sys", L"%ZOLKEYDIR%\\one") + L"</sw_keys>"),
              0);
    EXPECT_STREQ(fallback.GetInstalledFilePath().GetString(), L"C:\\windows\\system32\\drivers\\zolchip.sys");

    // A path set before is kept when nothing exists.
    CBaseComponent preset;
    preset.SetInstalledFilePath(L"C:\\preset.sys");
    ASSERT_EQ(ReadPackage(preset, L"<sw_keys>" + KeyCandidate(L"key.sys", L"%ZOLKEYDIR%\\one") + L"</sw_keys>"), 0);
    EXPECT_STREQ(preset.GetInstalledFilePath().GetString(), L"C:\\preset.sys");

    // A candidate whose expanded path does not fit MAX_PATH is skipped, both
    // when it is written out long and when a variable makes it long.
    SetEnvironmentVariableW(L"ZOLLONGDIR", (L"C:\\" + std::wstring(300, L'd')).c_str());
    CBaseComponent tooLong;
    ASSERT_EQ(ReadPackage(tooLong, L"<sw_keys>" + KeyCandidate(L"key.sys", L"C:\\" + std::wstring(280, L'x')) +
                                       KeyCandidate(L"", L"%ZOLKEYDIR%\\one") +
                                       KeyCandidate(L"", L"%ZOLLONGDIR%") + L"</sw_keys>"),
              0);
    EXPECT_EQ(std::wstring(tooLong.GetInstalledFilePath().GetString()), m_dir + L"\\one\\key.sys");
    // Just fitting: 259 characters.
    std::wstring fits = L"C:\\" + std::wstring(259 - 3 - 8, L'f');
    CBaseComponent exact;
    ASSERT_EQ(ReadPackage(exact, L"<sw_keys>" + KeyCandidate(L"key.sys", fits) + L"</sw_keys>"), 0);
    EXPECT_EQ(exact.GetInstalledFilePath().GetLength(), 259u);
    SetEnvironmentVariableW(L"ZOLKEYDIR", nullptr);
    SetEnvironmentVariableW(L"ZOLLONGDIR", nullptr);
}

TEST_F(PackageFiles, InstallCapabilitiesAndDiskSpace)
{
    auto caps = [](const std::wstring& silent, const std::wstring& reboot) {
        return L"<installation><install>" + silent + reboot + L"</install></installation>";
    };
    CBaseComponent upper;
    ASSERT_EQ(ReadPackage(upper, caps(L"<install_caps silent='YES'/>", L"<reboot_required value='Yes'/>")), 0);
    EXPECT_EQ(upper.IsSilentCapable(), 1);
    EXPECT_EQ(upper.IsRebootRequired(), 1);

    CBaseComponent no;
    ASSERT_EQ(ReadPackage(no, caps(L"<install_caps silent='no'/>", L"<reboot_required value='true'/>")), 0);
    EXPECT_EQ(no.IsSilentCapable(), 0);
    EXPECT_EQ(no.IsRebootRequired(), 0);

    CBaseComponent absent;
    ASSERT_EQ(ReadPackage(absent, caps(L"<install_caps/>", L"<reboot_required/>") +
                                      L"<prerequisites><required_diskspace/></prerequisites>"),
              0);
    EXPECT_EQ(absent.IsSilentCapable(), 1);
    EXPECT_EQ(absent.IsRebootRequired(), 0);
    EXPECT_EQ(absent.GetRequiredDiskSpace(), 0u);

    struct {
        const wchar_t* value;
        DWORD kilobytes;
    } sizes[] = {{L"4096", 4096}, {L" +12kb", 12}, {L"kb", 0}, {L"-5", 0}};
    for (const auto& s : sizes) {
        CBaseComponent component;
        ASSERT_EQ(ReadPackage(component, std::wstring(L"<prerequisites><required_diskspace size_kb='") + s.value +
                                             L"'/></prerequisites>"),
                  0);
        EXPECT_EQ(component.GetRequiredDiskSpace(), s.kilobytes) << zoltest::ToUtf8(s.value);
    }
}

TEST_F(PackageFiles, SupportedDevices)
{
    CBaseComponent component;
    std::wstring two = L"<supported_devices_and><supported_device type='pnp'>" + DeviceData(L"id", L"ACPI\\FIRST") +
                       L"</supported_device><supported_device type='pnp'>" + DeviceData(L"id", L"ACPI\\SECOND") +
                       L"</supported_device></supported_devices_and>";
    ASSERT_EQ(ReadPackage(component,
                          Devices(Device(L"pci", DeviceData(L"ven", L"8086") + DeviceData(L"dev", L"0E83")) +
                                  Device(L"PCI", DeviceData(L"subdev", L"7C41") + DeviceData(L"DEV", L"0E84") +
                                                     DeviceData(L"subven", L"A2E9") + DeviceData(L"ven", L"8086")) +
                                  Device(L"eisa", DeviceData(L"ID", L"PNP0A03")) +
                                  Device(L"eisa", DeviceData(L"hid", L"PNP0A08")) +
                                  Device(L"scsi", DeviceData(L"id", L"SCSI\\DiskZOL")) +
                                  Device(L"Pnp", DeviceData(L"id", L"ACPI\\PNP0C14")) +
                                  Device(L"usb", DeviceData(L"id", L"USB\\VID_1234")) +
                                  L"<supported_devices_and><supported_device>" + DeviceData(L"id", L"NOTYPE") +
                                  L"</supported_device></supported_devices_and>" + two +
                                  Device(L"pci", DeviceData(L"ven", L"8086") + DeviceData(L"dev", L"0E83") +
                                                     DeviceData(L"subven", L"A2E9")))),
              0);
    // Reader order: the first, then the others from the last back.
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 6u);
    EXPECT_STREQ(ids[0].GetString(), L"PCI\\VEN_8086&DEV_0E83");
    EXPECT_STREQ(ids[1].GetString(), L""); // a 12-character code has no hardware ID
    EXPECT_STREQ(ids[2].GetString(), L"ACPI\\FIRST");
    EXPECT_STREQ(ids[3].GetString(), L"ACPI\\PNP0C14");
    EXPECT_STREQ(ids[4].GetString(), L"*PNP0A03");
    EXPECT_STREQ(ids[5].GetString(), L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9");
    ASSERT_EQ(component.GetScsiIds().size(), 1u);
    EXPECT_STREQ(component.GetScsiIds()[0].GetString(), L"SCSI\\DiskZOL");
}

// Each part of a PCI code is the first data element of its name in the
// reader's order (the first child, then the others from the last back); names
// in any case, other elements and other names are passed over, device after
// device.
TEST_F(PackageFiles, PciCodePartsAreTheFirstOfTheirNames)
{
    CBaseComponent component;
    const std::wstring other = L"<other name='ven'>1111</other>" + DeviceData(L"vendor", L"2222");
    ASSERT_EQ(ReadPackage(component,
                          Devices(Device(L"pci", other + DeviceData(L"ven", L"8086") + DeviceData(L"ven", L"9999") +
                                                     DeviceData(L"dev", L"0E83")) +
                                  Device(L"pci", DeviceData(L"Dev", L"0E84") + DeviceData(L"VEN", L"8087") +
                                                     DeviceData(L"dev", L"0000")) +
                                  Device(L"pci", DeviceData(L"ven", L"8088") + DeviceData(L"dev", L"0E85")))),
              0);
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_STREQ(ids[0].GetString(), L"PCI\\VEN_9999&DEV_0E83");
    EXPECT_STREQ(ids[1].GetString(), L"PCI\\VEN_8088&DEV_0E85");
    EXPECT_STREQ(ids[2].GetString(), L"PCI\\VEN_8087&DEV_0E84");
}

TEST_F(PackageFiles, OverLongDeviceCodesAreSkipped)
{
    CBaseComponent component;
    std::wstring longPart(252, L'A');
    ASSERT_EQ(ReadPackage(component,
                          Devices(Device(L"pnp", DeviceData(L"id", L"ACPI\\KEPT")) +
                                  Device(L"pci", DeviceData(L"ven", longPart) + DeviceData(L"dev", L"0E83")) +
                                  Device(L"pnp", DeviceData(L"id", std::wstring(256, L'P'))) +
                                  Device(L"scsi", DeviceData(L"id", std::wstring(256, L'S'))) +
                                  Device(L"pnp", DeviceData(L"id", std::wstring(255, L'Q'))))),
              0);
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_STREQ(ids[0].GetString(), L"ACPI\\KEPT");
    EXPECT_EQ(ids[1].GetLength(), 255u);
    EXPECT_TRUE(component.GetScsiIds().empty());
}

TEST_F(PackageFiles, SupportedOperatingSystems)
{
    CBaseComponent component;
    ASSERT_EQ(ReadPackage(component, L"<prerequisites><supported_operating_systems>"
                                     L"<supported_operating_system platform='nt_x86-64'/>"
                                     L"<other platform='nt'/>"
                                     L"<supported_operating_system platform='' major='x' minor=' 7' edition='bogus'/>"
                                     L"<supported_operating_system platform='NT' major='5' minor='2' sr='2' "
                                     L"edition='SRVR'/>"
                                     L"</supported_operating_systems></prerequisites>"),
              0);
    const auto& systems = component.GetSupportedOperatingSystems();
    ASSERT_EQ(systems.size(), 3u);
    EXPECT_STREQ(systems[0].szPlatform, L"nt_x86-64");
    EXPECT_EQ(systems[0].nMajor, -1);
    EXPECT_EQ(systems[0].nMinor, -1);
    EXPECT_EQ(systems[0].nServicePack, -1);
    EXPECT_EQ(systems[0].wEdition, 0xFFFF);
    EXPECT_STREQ(systems[1].szPlatform, L"NT");
    EXPECT_EQ(systems[1].nMajor, 5);
    EXPECT_EQ(systems[1].nMinor, 2);
    EXPECT_EQ(systems[1].nServicePack, 2);
    EXPECT_EQ(systems[1].wEdition, 0xFF05);
    EXPECT_STREQ(systems[2].szPlatform, L"");
    EXPECT_EQ(systems[2].nMajor, 0);
    EXPECT_EQ(systems[2].nMinor, 7);
    EXPECT_EQ(systems[2].wEdition, 0);

    // A platform name over 63 characters is cut; the record stays, so the
    // package still restricts the systems and this one matches none.
    CBaseComponent longName;
    ASSERT_EQ(ReadPackage(longName, L"<prerequisites><supported_operating_systems>"
                                    L"<supported_operating_system platform='nt_x86-64" +
                                        std::wstring(100, L'z') +
                                        L"'/></supported_operating_systems></prerequisites>"),
              0);
    ASSERT_EQ(longName.GetSupportedOperatingSystems().size(), 1u);
    EXPECT_EQ(std::wstring(longName.GetSupportedOperatingSystems()[0].szPlatform),
              (L"nt_x86-64" + std::wstring(100, L'z')).substr(0, 63));
    EXPECT_EQ(longName.IsOperatingSystemSupported(), 0);
}

TEST_F(PackageFiles, NamesDescriptionsAndVersion)
{
    CBaseComponent component;
    ASSERT_EQ(ReadPackage(component, L"<name><name_xlate lang='de'>Treiber</name_xlate>"
                                     L"<name_xlate lang='fr'></name_xlate>"
                                     L"<name_xlate lang='EN'>Driver</name_xlate>"
                                     L"<name_xlate lang='ja'>\u30C9\u30E9\u30A4\u30D0\u30FC</name_xlate></name>"
                                     L"<description><description_xlate lang='en'><![CDATA[Line one\n  two]]>"
                                     L"</description_xlate><description_xlate lang='de'>Kein CDATA"
                                     L"</description_xlate></description>"
                                     L"<version value='1.2.3.0'/>"),
              0);
    EXPECT_EQ(Name(component, L"de"), L"Treiber");
    EXPECT_EQ(Name(component, L"it"), L"Driver");
    EXPECT_EQ(Name(component, L"fr"), L"<0>"); // an entry without text: no fallback
    EXPECT_EQ(Name(component, nullptr), L"Treiber"); // the first entry
    EXPECT_EQ(Name(component, L"JA"), L"\u30C9\u30E9\u30A4\u30D0\u30FC");
    // Never cut: the terminator must fit.
    EXPECT_EQ(Name(component, L"de", 7), L"<0>");
    EXPECT_EQ(Name(component, L"de", 8), L"Treiber");
    EXPECT_EQ(Name(component, L"de", 0), L"<0>");

    EXPECT_EQ(Description(component, L"fr"), L"Line one\n  two");
    EXPECT_EQ(Description(component, L"de"), L"<0>"); // plain text is not a description
    EXPECT_EQ(Version(component), L"1.2.3.0");
    EXPECT_EQ(Version(component, 7), L"<0>");
    EXPECT_EQ(Version(component, 8), L"1.2.3.0");

    CBaseComponent noEnglish;
    ASSERT_EQ(ReadPackage(noEnglish, L"<name><name_xlate lang='de'>Treiber</name_xlate></name><version value=''/>"), 0);
    EXPECT_EQ(Name(noEnglish, L"fr"), L"<0>");
    EXPECT_EQ(Version(noEnglish), L"<0>");
}

TEST_F(PackageFiles, InstallerDescription)
{
    CBaseComponent component;
    EXPECT_EQ(component.ReadInstallerXml(nullptr), 4);
    EXPECT_EQ(component.ReadInstallerXml(L"install.xml"), 3);
    Write(L"install.xml", L"<zol_install><inf_information>");
    EXPECT_EQ(component.ReadInstallerXml(L"install.xml"), 5);
    EXPECT_EQ(ReadInstaller(component, L""), 0);
    Write(L"install.xml", L"<zol_package/>");
    EXPECT_EQ(component.ReadInstallerXml(L"install.xml"), 0);
    EXPECT_EQ(component.GetInfType(), INF_TYPE_NONE);

    // This system reports version 6.1: "inf_file" is the element read.
    ASSERT_EQ(ReadInstaller(component, L"<inf_information>"
                                       L"<inf_file_nt5 filename='nt5.inf' type='LEGACY'/>"
                                       L"<inf_file filename='chip.inf' type='pnp' section='Install.NT' "
                                       L"service_name='zolchip'/></inf_information>"
                                       L"<ShellExecute><ShellExecute_Info file='%SystemRoot%\\notepad.exe' "
                                       L"DefaultDir='%SystemRoot%'/></ShellExecute>"),
              0);
    EXPECT_STREQ(component.GetInfFileName(), L"chip.inf");
    EXPECT_EQ(component.GetInfType(), INF_TYPE_PNP);
    EXPECT_STREQ(component.GetInfSection().GetString(), L"Install.NT");
    EXPECT_STREQ(component.GetServiceName().GetString(), L"zolchip");
    EXPECT_STREQ(component.GetShellExecuteFile(), L"C:\\windows\\notepad.exe");
    EXPECT_STREQ(component.GetShellExecuteDir(), L"C:\\windows");

    // Absent attributes and unknown types leave what was read before; an
    // expansion that does not fit leaves the command as it was.
    SetEnvironmentVariableW(L"ZOLLONG", std::wstring(300, L'l').c_str());
    ASSERT_EQ(ReadInstaller(component, L"<inf_information><inf_file type='driver'/></inf_information>"
                                       L"<ShellExecute><ShellExecute_Info file='C:\\%ZOLLONG%.exe'/></ShellExecute>"),
              0);
    SetEnvironmentVariableW(L"ZOLLONG", nullptr);
    EXPECT_STREQ(component.GetInfFileName(), L"chip.inf");
    EXPECT_EQ(component.GetInfType(), INF_TYPE_PNP);
    EXPECT_STREQ(component.GetShellExecuteFile(), L"C:\\windows\\notepad.exe");

    for (auto type : {std::make_pair(L"Legacy", INF_TYPE_LEGACY), std::make_pair(L"VIRTUAL", INF_TYPE_VIRTUAL)}) {
        CBaseComponent typed;
        ASSERT_EQ(ReadInstaller(typed, std::wstring(L"<inf_information><inf_file type='") + type.first +
                                           L"'/></inf_information>"),
                  0);
        EXPECT_EQ(typed.GetInfType(), type.second);
    }
    CBaseComponent unknown;
    ASSERT_EQ(ReadInstaller(unknown, L"<inf_information><inf_file filename='x.inf' type='pnp2'/></inf_information>"), 0);
    EXPECT_EQ(unknown.GetInfType(), INF_TYPE_NONE);
    EXPECT_STREQ(unknown.GetInfFileName(), L"x.inf");
    // Only an element for another version: nothing is read.
    CBaseComponent other;
    ASSERT_EQ(ReadInstaller(other, L"<inf_information><inf_file_nt4 filename='nt4.inf' type='PNP'/>"
                                   L"</inf_information>"),
              0);
    EXPECT_STREQ(other.GetInfFileName(), L"");
    EXPECT_EQ(other.GetInfType(), INF_TYPE_NONE);
}

// Run only as the child of OsVersions below: reports what a component reads
// in ZOL_CHILD_DIR on the Windows version this process was given.
TEST(OsVersionChild, Report)
{
    wchar_t dir[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"ZOL_CHILD_DIR", dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        GTEST_SKIP() << "child mode only";
    ASSERT_TRUE(SetCurrentDirectoryW(dir));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    CBaseComponent component;
    int installer = component.ReadInstallerXml(L"install.xml");
    printf("VERSION=%lu.%lu\nINSTALLER=%d\nINF=%s\n", version.dwMajorVersion, version.dwMinorVersion, installer,
           zoltest::ToUtf8(component.GetInfFileName()).c_str());
    wchar_t path[MAX_PATH] = {};
    if (component.FindPackageDefinitionFile(path, MAX_PATH) && component.ReadPackageDefinition(path) == 0)
        printf("OS=%d\n", component.IsOperatingSystemSupported());
    fflush(stdout);
}

namespace {

// Runs this test program as a copy named exeName, whose Windows version is
// set to version, in dir; returns its report.
std::string RunChild(const std::wstring& exeName, const wchar_t* version, const std::wstring& dir)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe = zoltest::MakeTestDir(L"osver_" + exeName) + L"\\" + exeName;
    if (!CopyFileW(self, exe.c_str(), FALSE))
        return "copy failed";
    std::wstring key = L"Software\\Wine\\AppDefaults\\" + exeName;
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, version,
                    static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    SetEnvironmentVariableW(L"ZOL_CHILD_DIR", dir.c_str());
    zoltest::ProcessResult result = zoltest::RunProcess(L"\"" + exe + L"\" --gtest_filter=OsVersionChild.Report", dir);
    SetEnvironmentVariableW(L"ZOL_CHILD_DIR", nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    return result.output;
}

} // namespace

TEST(OsVersions, InstallerElementFollowsTheMajorVersion)
{
    std::wstring all = zoltest::MakeTestDir(L"osver_all");
    ASSERT_TRUE(zoltest::WriteUtf8(all + L"\\install.xml", L"<zol_install><inf_information>"
                                                           L"<inf_file_nt4 filename='nt4.inf' type='LEGACY'/>"
                                                           L"<inf_file filename='any.inf' type='PNP'/>"
                                                           L"<inf_file_nt5 filename='nt5.inf' type='LEGACY'/>"
                                                           L"</inf_information></zol_install>"));
    std::string nt4 = RunChild(L"pkgdef_nt40.exe", L"nt40", all);
    EXPECT_NE(nt4.find("VERSION=4.0"), std::string::npos) << nt4;
    EXPECT_NE(nt4.find("INF=nt4.inf"), std::string::npos) << nt4;
    std::string nt5 = RunChild(L"pkgdef_w2003.exe", L"win2003", all);
    EXPECT_NE(nt5.find("VERSION=5.2"), std::string::npos) << nt5;
    EXPECT_NE(nt5.find("INF=nt5.inf"), std::string::npos) << nt5;

    // Version 5 with only "inf_file": that one is read.
    std::wstring plain = zoltest::MakeTestDir(L"osver_plain");
    ASSERT_TRUE(zoltest::WriteUtf8(plain + L"\\install.xml", L"<zol_install><inf_information>"
                                                             L"<inf_file filename='any.inf' type='PNP'/>"
                                                             L"</inf_information></zol_install>"));
    std::string fallback = RunChild(L"pkgdef_w2003.exe", L"win2003", plain);
    EXPECT_NE(fallback.find("INF=any.inf"), std::string::npos) << fallback;
}

TEST(OsVersions, SamplePackageSupportsTheServerLook)
{
    // Wine's "win7" setting reports a 6.1 server; "win2003" a 5.2 server.
    std::wstring sample = zoltest::MakeTestDir(L"osver_sample");
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), sample));
    std::string server = RunChild(L"pkgdef_win7.exe", L"win7", sample);
    EXPECT_NE(server.find("VERSION=6.1"), std::string::npos) << server;
    EXPECT_NE(server.find("INF=zolchip.inf"), std::string::npos) << server;
    EXPECT_NE(server.find("OS=1"), std::string::npos) << server;
    std::string old = RunChild(L"pkgdef_w2003.exe", L"win2003", sample);
    EXPECT_NE(old.find("OS=0"), std::string::npos) << old;
}
