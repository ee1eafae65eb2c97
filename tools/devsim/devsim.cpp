// devsim: the simulated server's devices. Creates, lists and removes
// root-enumerated devices through SetupAPI so that the component can be run
// against "present" hardware on a machine (or Wine prefix) without it.
//
//   devsim add HWID [HWID...]   create one present device with these hardware IDs
//                               (in this order) and print its instance ID
//   devsim list                 print every present device, its hardware IDs,
//                               service (and whether it is started) and driver INF
//   devsim remove INSTANCE      remove a device by instance ID
//   devsim start                start the drivers of the bound devices
//   devsim stop                 stop them again
//   devsim hold-install-lock SECONDS
//                               take the machine-wide install lock (waiting
//                               at most 60 s for it), print a line once it is
//                               held, hold it SECONDS, release it; 1618 when
//                               another installation held it all along
//
// start and stop play the part of the PnP manager, which Wine lacks: when
// Windows starts the driver of a bound device it records the device instances
// the service drives under SYSTEM\CurrentControlSet\Services\<service>\Enum
// ("Count", "NextInstance" and "0".."n-1"). start writes those values for
// every service that a device names in its "Service" property; stop removes
// every service's Enum key. The keys are ordinary ones, not volatile as on
// Windows, so that a restart of the Wine server does not stop the drivers.
#include <windows.h>
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>
#include <cfgmgr32.h>

#include <string>
#include <utility>
#include <vector>

#include "support/handles.h"
#include "support/installlock.h"
#include "zolcomp/zolcomp.h"

namespace {

void WriteUtf8(HANDLE out, const std::wstring& text)
{
    if (text.empty())
        return;
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Print(const std::wstring& text) { WriteUtf8(GetStdHandle(STD_OUTPUT_HANDLE), text); }
void Error(const std::wstring& text) { WriteUtf8(GetStdHandle(STD_ERROR_HANDLE), L"devsim: " + text + L"\r\n"); }

std::wstring ErrorText(DWORD code)
{
    wchar_t buffer[32];
    wsprintfW(buffer, L"error 0x%08X", code);
    return buffer;
}

int Usage()
{
    Print(L"usage: devsim add HWID [HWID...]\r\n"
          L"       devsim list\r\n"
          L"       devsim remove INSTANCE\r\n"
          L"       devsim start\r\n"
          L"       devsim stop\r\n"
          L"       devsim hold-install-lock SECONDS\r\n");
    return 87;
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &data, id, MAX_DEVICE_ID_LEN, nullptr))
        return std::wstring();
    return id;
}

int Add(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Usage();
    std::vector<wchar_t> multi;
    for (int i = 2; i < argc; ++i) {
        size_t len = wcslen(argv[i]);
        if (len == 0 || len >= MAX_DEVICE_ID_LEN) {
            Error(L"a hardware ID must have 1 to 199 characters");
            return 87;
        }
        multi.insert(multi.end(), argv[i], argv[i] + len);
        multi.push_back(L'\0');
    }
    multi.push_back(L'\0');

    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr));
    if (!set) {
        Error(L"cannot create a device list: " + ErrorText(GetLastError()));
        return 1;
    }
    SP_DEVINFO_DATA data = {sizeof(data)};
    if (!SetupDiCreateDeviceInfoW(set.get(), L"SYSTEM", &GUID_DEVCLASS_SYSTEM, nullptr, nullptr, DICD_GENERATE_ID,
                                  &data)) {
        Error(L"cannot create the device: " + ErrorText(GetLastError()));
        return 1;
    }
    if (!SetupDiSetDeviceRegistryPropertyW(set.get(), &data, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(multi.data()),
                                           static_cast<DWORD>(multi.size() * sizeof(wchar_t)))) {
        Error(L"cannot set the hardware IDs: " + ErrorText(GetLastError()));
        return 1;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &data)) {
        Error(L"cannot register the device: " + ErrorText(GetLastError()));
        return 1;
    }
    Print(InstanceId(set.get(), data) + L"\r\n");
    return 0;
}

std::wstring StringProperty(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property)
{
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof(buffer) - sizeof(wchar_t), nullptr))
        return std::wstring();
    return buffer;
}

std::wstring HardwareIds(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    std::vector<wchar_t> buffer(4096, L'\0');
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                           static_cast<DWORD>((buffer.size() - 2) * sizeof(wchar_t)), nullptr))
        return std::wstring();
    std::wstring joined;
    for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) {
        if (!joined.empty())
            joined += L" ";
        joined += p;
    }
    return joined;
}

std::wstring DriverInf(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    CUniqueRegKey key(SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
    if (!key.valid() || key.get() == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        key.release();
        return std::wstring();
    }
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return buffer;
}

const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";

std::wstring EnumKeyPath(const std::wstring& service)
{
    return std::wstring(kServicesKey) + L"\\" + service + L"\\Enum";
}

// A service counts as started when its Enum key records at least one device.
bool IsStarted(const std::wstring& service)
{
    CUniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EnumKeyPath(service).c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD count = 0, type = 0, size = sizeof(count);
    return RegQueryValueExW(key.get(), L"Count", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && count > 0;
}

int List()
{
    CUniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set) {
        Error(L"cannot enumerate devices: " + ErrorText(GetLastError()));
        return 1;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiEnumDeviceInfo(set.get(), index, &data))
            break;
        std::wstring text = InstanceId(set.get(), data) + L"\r\n";
        text += L"    hardware IDs: " + HardwareIds(set.get(), data) + L"\r\n";
        std::wstring service = StringProperty(set.get(), data, SPDRP_SERVICE);
        text += L"    service:      " + (service.empty() ? std::wstring(L"(none)") : service) + L"\r\n";
        if (!service.empty())
            text += std::wstring(L"    started:      ") + (IsStarted(service) ? L"yes" : L"no") + L"\r\n";
        std::wstring inf = DriverInf(set.get(), data);
        text += L"    driver INF:   " + (inf.empty() ? std::wstring(L"(none)") : inf) + L"\r\n";
        Print(text);
    }
    return 0;
}

int Remove(int argc, wchar_t** argv)
{
    if (argc != 3)
        return Usage();
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set) {
        Error(L"cannot create a device list: " + ErrorText(GetLastError()));
        return 1;
    }
    SP_DEVINFO_DATA data = {sizeof(data)};
    if (!SetupDiOpenDeviceInfoW(set.get(), argv[2], nullptr, 0, &data)) {
        Error(std::wstring(L"no device ") + argv[2] + L": " + ErrorText(GetLastError()));
        return 2;
    }
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data)) {
        Error(std::wstring(L"cannot remove ") + argv[2] + L": " + ErrorText(GetLastError()));
        return 1;
    }
    return 0;
}

// The device instances of every service a device is bound to, in device
// order; service names compare without regard to case, as Windows does.
typedef std::vector<std::pair<std::wstring, std::vector<std::wstring>>> ServiceDevices;

bool BoundDevices(ServiceDevices& services)
{
    CUniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set) {
        Error(L"cannot enumerate devices: " + ErrorText(GetLastError()));
        return false;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiEnumDeviceInfo(set.get(), index, &data))
            break;
        std::wstring service = StringProperty(set.get(), data, SPDRP_SERVICE);
        std::wstring instance = InstanceId(set.get(), data);
        if (service.empty() || instance.empty())
            continue;
        auto it = services.begin();
        while (it != services.end() && _wcsicmp(it->first.c_str(), service.c_str()) != 0)
            ++it;
        if (it == services.end())
            it = services.insert(services.end(), {service, {}});
        it->second.push_back(instance);
    }
    return true;
}

// Removes the Enum key of every service, naming each one when report is
// set; false when one stays.
bool StopAll(bool report)
{
    CUniqueRegKey services;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, services.put()) != ERROR_SUCCESS) {
        Error(L"cannot open the services key");
        return false;
    }
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(sizeof(name) / sizeof(name[0]));
        LONG rc = RegEnumKeyExW(services.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    bool ok = true;
    for (const std::wstring& service : names) {
        CUniqueRegKey key;
        if (RegOpenKeyExW(services.get(), (service + L"\\Enum").c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            continue;
        key.reset();
        LONG rc = RegDeleteTreeW(services.get(), (service + L"\\Enum").c_str());
        if (rc != ERROR_SUCCESS) {
            Error(L"cannot stop " + service + L": " + ErrorText(static_cast<DWORD>(rc)));
            ok = false;
        } else if (report) {
            Print(L"stopped " + service + L"\r\n");
        }
    }
    return ok;
}

bool SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

bool SetString(HKEY key, const std::wstring& name, const std::wstring& value)
{
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Writes one service's Enum key as Windows does when it starts the driver.
bool RecordDrivenDevices(const std::wstring& service, const std::vector<std::wstring>& instances)
{
    CUniqueRegKey serviceKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kServicesKey) + L"\\" + service).c_str(), 0, KEY_READ,
                      serviceKey.put()) != ERROR_SUCCESS) {
        // A device naming a service that is not installed has no driver to start.
        Print(L"not started " + service + L": the service is not installed\r\n");
        return true;
    }
    CUniqueRegKey key;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, EnumKeyPath(service).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        Error(L"cannot start " + service + L": " + ErrorText(static_cast<DWORD>(rc)));
        return false;
    }
    const DWORD count = static_cast<DWORD>(instances.size());
    bool ok = true;
    for (DWORD i = 0; i < count; ++i)
        ok = SetString(key.get(), std::to_wstring(i), instances[i]) && ok;
    ok = SetDword(key.get(), L"Count", count) && SetDword(key.get(), L"NextInstance", count) && ok;
    if (!ok) {
        Error(L"cannot write the devices of " + service);
        return false;
    }
    Print(L"started " + service + L" (" + std::to_wstring(count) + (count == 1 ? L" device)\r\n" : L" devices)\r\n"));
    return true;
}

// Starts the drivers of the devices bound now; what an earlier start
// recorded is removed first, so devices removed since are no longer counted.
int Start()
{
    ServiceDevices services;
    if (!BoundDevices(services))
        return 1;
    bool ok = StopAll(false);
    for (const auto& service : services)
        ok = RecordDrivenDevices(service.first, service.second) && ok;
    return ok ? 0 : 1;
}

// Makes this machine busy for the install lock's other users.
int HoldInstallLock(int argc, wchar_t** argv)
{
    const unsigned kMaxSeconds = 86400;
    if (argc != 3 || argv[2][0] == L'\0' || wcslen(argv[2]) > 5)
        return Usage();
    unsigned seconds = 0;
    for (const wchar_t* p = argv[2]; *p; ++p) {
        if (*p < L'0' || *p > L'9')
            return Usage();
        seconds = seconds * 10 + static_cast<unsigned>(*p - L'0');
    }
    if (seconds > kMaxSeconds)
        return Usage();
    CInstallLock lock;
    if (!lock.Acquire(ZOL_INSTALL_WAIT_MS)) {
        Error(InstallInProgressText(lock).GetString());
        return ZOL_EXIT_INSTALL_IN_PROGRESS;
    }
    wchar_t line[128];
    wsprintfW(line, L"holding the install lock (process ID %lu) for %u s\r\n",
              static_cast<unsigned long>(GetCurrentProcessId()), seconds);
    Print(line);
    Sleep(seconds * 1000);
    lock.Release();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    std::wstring command = argv[1];
    if (command == L"add")
        return Add(argc, argv);
    if (command == L"list")
        return argc == 2 ? List() : Usage();
    if (command == L"remove")
        return Remove(argc, argv);
    if (command == L"start")
        return argc == 2 ? Start() : Usage();
    if (command == L"stop")
        return argc == 2 ? (StopAll(true) ? 0 : 1) : Usage();
    if (command == L"hold-install-lock")
        return HoldInstallLock(argc, argv);
    if (command == L"--help" || command == L"-h" || command == L"help") {
        Usage();
        return 0;
    }
    return Usage();
}
