// devsim: the simulated server's devices. Creates, lists and removes
// root-enumerated devices through SetupAPI so that the component can be run
// against "present" hardware on a machine (or Wine prefix) without it.
//
//   devsim add HWID [HWID...]   create one present device with these hardware IDs
//                               (in this order) and print its instance ID
//   devsim list                 print every present device, its hardware IDs,
//                               service and driver INF
//   devsim remove INSTANCE      remove a device by instance ID
#include <windows.h>
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>
#include <cfgmgr32.h>

#include <string>
#include <vector>

#include "support/handles.h"

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
          L"       devsim remove INSTANCE\r\n");
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
    if (command == L"--help" || command == L"-h" || command == L"help") {
        Usage();
        return 0;
    }
    return Usage();
}
