#include "targets.h"

#include "basecomp.h"
#include "package/xmlreader.h"
#include "support/handles.h"

#include <windows.h>

namespace zolfuzz {

namespace {

std::wstring g_workDir;

const char kPackage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<zol_package>\r\n"
    "  <filename>qx012345.exe</filename>\r\n"
    "  <name><name_xlate lang=\"en\">Chipset Driver</name_xlate><name_xlate lang=\"ja\">Chipset</name_xlate></name>\r\n"
    "  <description><description_xlate lang=\"en\"><![CDATA[Installs the chipset driver.\r\n  Second line.]]>"
    "</description_xlate></description>\r\n"
    "  <version value=\"1.2.3.0\"/>\r\n"
    "  <sw_keys><sw_keys_and><sw_key name=\"zolchip.sys\"><sw_key_expectedpath>%SystemRoot%\\system32\\drivers\\"
    "</sw_key_expectedpath></sw_key></sw_keys_and><sw_keys_and><sw_key><sw_key_expectedpath>C:\\x"
    "</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys>\r\n"
    "  <installation><install><install_caps silent=\"yes\"/><reboot_required value=\"no\"/></install></installation>\r\n"
    "  <prerequisites>\r\n"
    "    <required_diskspace size_kb=\"1024\"/>\r\n"
    "    <supported_devices>\r\n"
    "      <supported_devices_and><supported_device type=\"pci\">"
    "<supported_device_data name=\"ven\">8086</supported_device_data>"
    "<supported_device_data name=\"dev\">0E83</supported_device_data>"
    "<supported_device_data name=\"subven\">A2E9</supported_device_data>"
    "<supported_device_data name=\"subdev\">7C41</supported_device_data></supported_device></supported_devices_and>\r\n"
    "      <supported_devices_and><supported_device type=\"eisa\"><supported_device_data name=\"id\">PNP0A03"
    "</supported_device_data></supported_device></supported_devices_and>\r\n"
    "      <supported_devices_and><supported_device type=\"pnp\"><supported_device_data name=\"id\">ROOT\\X"
    "</supported_device_data></supported_device></supported_devices_and>\r\n"
    "    </supported_devices>\r\n"
    "    <supported_operating_systems>\r\n"
    "      <supported_operating_system platform=\"nt_x86-64\" major=\"6\" minor=\"1\" sr=\"1\" edition=\"srvr\"/>\r\n"
    "      <supported_operating_system platform=\"nt_x86-64\" major=\"6\"/>\r\n"
    "    </supported_operating_systems>\r\n"
    "  </prerequisites>\r\n"
    "</zol_package>\r\n";

const char kInstaller[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<zol_install>\r\n"
    "  <inf_information>\r\n"
    "    <inf_file filename=\"zolchip.inf\" type=\"PNP\" section=\"Install\" service_name=\"zolchip\"/>\r\n"
    "    <inf_file_nt5 filename=\"old.inf\" type=\"LEGACY\"/>\r\n"
    "  </inf_information>\r\n"
    "  <ShellExecute><ShellExecute_Info file=\"%SystemRoot%\\notepad.exe\" DefaultDir=\"%TEMP%\"/></ShellExecute>\r\n"
    "</zol_install>\r\n";

const char kDependency[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<componentdependencies><dependent_hardware><platforms>\r\n"
    "  <platform model=\"Wine\"/><platform model=\"Model 100  \"/><platform/>\r\n"
    "</platforms></dependent_hardware></componentdependencies>\r\n";

std::vector<std::string> XmlSeeds() { return {kPackage, kInstaller, kDependency}; }
std::vector<std::string> PackageSeeds() { return {kPackage}; }
std::vector<std::string> InstallerSeeds() { return {kInstaller}; }

void RunXml(const std::string& input)
{
    CZolXMLReader reader;
    reader.LoadBuffer(input.data(), input.size());
    // Walk what was built, as the package readers do.
    CZolXMLNode* node = reader.FindChild(nullptr, L"zol_package");
    for (CZolXMLNode* child = node ? node->GetFirstChild() : nullptr; child; child = child->GetNextSibling()) {
        child->GetAttribute(L"lang");
        child->GetAttributeCount();
        child->FindChildByName(L"#CDATA");
    }
}

void RunPackage(const std::string& input)
{
    if (!WriteInput(L"qxfuzz.xml", input))
        return;
    CBaseComponent component;
    if (component.ReadPackageDefinition(L"qxfuzz.xml") != 0)
        return;
    wchar_t buffer[1024];
    for (const wchar_t* lang : {L"en", L"ja", L"fr", L"", static_cast<const wchar_t*>(nullptr)}) {
        for (int size : {1, 8, 1024}) {
            component.GetPackageName(buffer, size, lang);
            component.GetPackageDescription(buffer, size, lang);
        }
    }
    component.GetPackageVersion(buffer, 1024);
    component.GetPackageVersion(buffer, 2);
    component.IsOperatingSystemSupported();
}

void RunInstaller(const std::string& input)
{
    if (!WriteInput(L"install.xml", input))
        return;
    CBaseComponent component;
    component.ReadInstallerXml(L"install.xml");
}

} // namespace

void SetWorkDirectory(const std::wstring& dir) { g_workDir = dir; }
const std::wstring& WorkDirectory() { return g_workDir; }

bool WriteInput(const std::wstring& name, const std::string& bytes)
{
    CUniqueFile file(CreateFileW((g_workDir + L"\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

std::vector<std::string> InfSeeds();
void RunInf(const std::string& input);

const std::vector<CTarget>& Targets()
{
    static const std::vector<CTarget> targets = {
        {"xml", &XmlSeeds, &RunXml},
        {"package", &PackageSeeds, &RunPackage},
        {"installer", &InstallerSeeds, &RunInstaller},
        {"inf", &InfSeeds, &RunInf},
    };
    return targets;
}

} // namespace zolfuzz
