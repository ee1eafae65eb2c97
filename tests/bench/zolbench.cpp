// zolbench: what the component costs next to the platform work it cannot
// avoid, measured side by side in one run under the same conditions. Prints
// a table of medians and ratios. Nothing here is a pass/fail test.
#include <windows.h>
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>
#include <expat.h>

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "basecomp.h"
#include "benchpnp.h"
#include "support/handles.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    if (runs >= 5)
        work(); // warm-up, not counted
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        work();
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Row {
    std::string name;
    double component;
    double platform;
};
std::vector<Row> g_rows;

void Report(const std::string& name, double component, double platform)
{
    g_rows.push_back({name, component, platform});
    printf("  measured: %-44s %10.3f ms %10.3f ms\n", name.c_str(), component, platform);
    fflush(stdout);
}

// --- device list -----------------------------------------------------------

int g_devicesCreated = 0;

bool AddDevices(int target)
{
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr));
    if (!set)
        return false;
    for (; g_devicesCreated < target; ++g_devicesCreated) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiCreateDeviceInfoW(set.get(), L"SYSTEM", &GUID_DEVCLASS_SYSTEM, nullptr, nullptr, DICD_GENERATE_ID,
                                      &data))
            return false;
        wchar_t ids[256];
        int n = wsprintfW(ids, L"ZOLBENCH\\DEV_%04d&REV_01", g_devicesCreated);
        n += 1 + wsprintfW(ids + n + 1, L"ZOLBENCH\\DEV_%04d", g_devicesCreated);
        ids[n + 1] = 0;
        if (!SetupDiSetDeviceRegistryPropertyW(set.get(), &data, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(ids),
                                               static_cast<DWORD>((n + 2) * sizeof(wchar_t))) ||
            !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &data))
            return false;
    }
    return true;
}

size_t PlainEnumeration()
{
    size_t ids = 0;
    CUniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    BYTE buffer[2048];
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiEnumDeviceInfo(set.get(), i, &data))
            break;
        DWORD type = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set.get(), &data, SPDRP_HARDWAREID, &type, buffer, sizeof(buffer),
                                              nullptr))
            ++ids;
    }
    return ids;
}

void BenchDeviceList()
{
    for (int count : {10, 100, 1000}) {
        if (!AddDevices(count)) {
            printf("  cannot create %d devices\n", count);
            return;
        }
        int runs = count >= 1000 ? 5 : 9;
        double component = Median(runs, [] {
            CBaseComponent c;
            c.BuildDeviceList(0);
        });
        double platform = Median(runs, [] { PlainEnumeration(); });
        Report("device list, " + std::to_string(count) + " devices", component, platform);
    }
}

// --- package definition ----------------------------------------------------

std::string MakeLargePackage(size_t bytes)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<zol_package>\r\n"
                      "  <filename>qx999999.exe</filename>\r\n  <version value=\"1.0.0.0\"/>\r\n"
                      "  <name><name_xlate lang=\"en\">Large</name_xlate></name>\r\n"
                      "  <prerequisites><supported_devices>\r\n";
    char entry[512];
    for (int i = 0; xml.size() < bytes; ++i) {
        snprintf(entry, sizeof(entry),
                 "    <supported_devices_and><supported_device type=\"pci\">"
                 "<supported_device_data name=\"ven\">8086</supported_device_data>"
                 "<supported_device_data name=\"dev\">%04X</supported_device_data>"
                 "<supported_device_data name=\"subven\">A2E9</supported_device_data>"
                 "<supported_device_data name=\"subdev\">7C41</supported_device_data>"
                 "</supported_device></supported_devices_and>\r\n",
                 i & 0xFFFF);
        xml += entry;
    }
    xml += "  </supported_devices></prerequisites>\r\n</zol_package>\r\n";
    return xml;
}

bool WriteFileBytes(const wchar_t* path, const std::string& bytes)
{
    CUniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ReadFileBytes(const wchar_t* path)
{
    CUniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string data;
    if (!file)
        return data;
    DWORD size = GetFileSize(file.get(), nullptr);
    data.resize(size);
    DWORD read = 0;
    ReadFile(file.get(), &data[0], size, &read, nullptr);
    return data;
}

void RawParse(const std::string& bytes)
{
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1);
    XML_ParserFree(parser);
}

void BenchPackage()
{
    CreateDirectoryW(L"C:\\zolbench", nullptr);
    SetCurrentDirectoryW(L"C:\\zolbench");
    std::string xml = MakeLargePackage(10u << 20);
    WriteFileBytes(L"C:\\zolbench\\qxlarge.xml", xml);
    double component = Median(5, [] {
        CBaseComponent c;
        c.ReadPackageDefinition(L"qxlarge.xml");
    });
    double platform = Median(5, [] { RawParse(ReadFileBytes(L"C:\\zolbench\\qxlarge.xml")); });
    Report("package definition, 10 MB", component, platform);
}

// --- start-up --------------------------------------------------------------

std::wstring BinDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    *wcsrchr(path, L'\\') = 0;
    return path;
}

void CopyFolder(const std::wstring& from, const std::wstring& to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((from + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            CopyFileW((from + L"\\" + fd.cFileName).c_str(), (to + L"\\" + fd.cFileName).c_str(), FALSE);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

void BenchStartup(const std::wstring& examples)
{
    CreateDirectoryW(L"C:\\zolbench", nullptr);
    std::wstring dir = L"C:\\zolbench\\chipset";
    CopyFolder(examples + L"\\chipset", dir);
    CopyFileW((BinDir() + L"\\zolcomp.dll").c_str(), (dir + L"\\zolcomp.dll").c_str(), FALSE);
    SetCurrentDirectoryW(dir.c_str());
    std::wstring dll = dir + L"\\zolcomp.dll";
    HMODULE probe = LoadLibraryW(dll.c_str());
    if (probe == nullptr) {
        printf("  cannot load %ls: error %lu\n", dll.c_str(), GetLastError());
        return;
    }
    FreeLibrary(probe);
    double component = Median(9, [&] {
        HMODULE module = LoadLibraryW(dll.c_str());
        if (module)
            FreeLibrary(module);
    });
    // The platform work start-up cannot avoid: finding and reading the two
    // package files, parsing them, and enumerating the devices.
    double platform = Median(9, [] {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(L"qx*.xml", &fd);
        if (h != INVALID_HANDLE_VALUE) {
            RawParse(ReadFileBytes(fd.cFileName));
            FindClose(h);
        }
        RawParse(ReadFileBytes(L"install.xml"));
        PlainEnumeration();
    });
    Report("start-up of the sample package", component, platform);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring examples = argc > 1 ? argv[1] : L"";
    printf("zolbench: component against the bare platform calls, medians in milliseconds\n");
    BenchStartup(examples);
    BenchPackage();
    BenchDeviceList();
    BenchPnp(&Median, &Report);

    printf("\n%-44s %12s %12s %8s\n", "case", "component", "platform", "ratio");
    for (const Row& r : g_rows)
        printf("%-44s %9.3f ms %9.3f ms %7.2fx\n", r.name.c_str(), r.component, r.platform,
               r.platform > 0 ? r.component / r.platform : 0.0);
    return 0;
}
