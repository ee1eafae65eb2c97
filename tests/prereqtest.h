// Helpers of the prerequisite tests: the machine's model, services and
// registry values written the way Windows would, the sample package in a
// directory of its own, simulated devices, the Windows version the host sees,
// and the host's answers.
#pragma once

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "package/wmiquery.h"
#include "testsupport.h"

namespace prereqtest {

// The computer model as WMI reports it ("Wine" under Wine), read on a thread
// of its own so the caller's COM state stays as it is.
inline std::wstring MachineModel()
{
    static std::wstring model;
    if (model.empty()) {
        std::thread worker([] {
            CWmiQuery query;
            BYTE value[CWmiQuery::kValueBytes] = {};
            if (query.ConnectNamespace(L"ROOT\\CIMV2") && query.ExecuteQuery(L"Win32_ComputerSystem") &&
                query.GetPropertyValue(L"Model", value))
                model = reinterpret_cast<const wchar_t*>(value);
        });
        worker.join();
    }
    return model;
}

// A kernel driver service with a dummy image, optionally disabled.
inline bool CreateDriverService(const std::wstring& name, bool disabled = false)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return false;
    SC_HANDLE service = CreateServiceW(manager, name.c_str(), (name + L" driver").c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, disabled ? SERVICE_DISABLED : SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, L"C:\\windows\\system32\\drivers\\zolabsent.sys",
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

inline bool SetStartType(const std::wstring& name, DWORD start)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS) : nullptr;
    bool ok = service && ChangeServiceConfigW(service, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return ok;
}

// Deletes the service; true when the manager no longer knows it afterwards,
// which needs every handle to it closed.
inline bool DeleteServiceAndCheckGone(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
    bool deleted = service && DeleteService(service);
    if (service)
        CloseServiceHandle(service);
    SC_HANDLE again = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
    DWORD error = GetLastError();
    if (again)
        CloseServiceHandle(again);
    CloseServiceHandle(manager);
    return deleted && again == nullptr && error == ERROR_SERVICE_DOES_NOT_EXIST;
}

// Writes a value under HKEY_LOCAL_MACHINE, creating the key.
inline bool SetRegValue(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
inline bool SetRegDword(const std::wstring& path, const wchar_t* name, DWORD value)
{
    return SetRegValue(path, name, REG_DWORD, &value, sizeof(value));
}
inline bool SetRegString(const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    return SetRegValue(path, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A device created with devsim and removed again at the end of the scope.
class CDeviceScope
{
public:
    explicit CDeviceScope(const std::vector<std::wstring>& ids) : m_instance(zoltest::AddDevice(ids)) {}
    ~CDeviceScope() { Remove(); }
    CDeviceScope(const CDeviceScope&) = delete;
    CDeviceScope& operator=(const CDeviceScope&) = delete;
    bool Valid() const { return !m_instance.empty(); }
    void Remove()
    {
        if (!m_instance.empty())
            zoltest::RunProcess(L"\"" + zoltest::BinPath(L"devsim.exe") + L"\" remove " + m_instance);
        m_instance.clear();
    }

private:
    std::wstring m_instance;
};

// One of the chipset devices the sample package supports.
inline std::vector<std::wstring> ChipsetDeviceIds()
{
    return {L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_04", L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"};
}

// The Windows version Wine reports to the host program ("win7" is a
// Windows Server 2008 R2 look; empty removes the setting).
inline bool SetHostWindowsVersion(const wchar_t* version)
{
    const wchar_t* key = L"Software\\Wine\\AppDefaults\\zolhost.exe";
    if (version == nullptr || version[0] == L'\0')
        return RegDeleteTreeW(HKEY_CURRENT_USER, key) == ERROR_SUCCESS;
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                             static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

// A copy of a sample package (the chipset's by default) in C:\zoltest\<name>.
inline std::wstring MakePackage(const std::wstring& name, const wchar_t* package = L"chipset")
{
    std::wstring dir = zoltest::MakeTestDir(name);
    zoltest::CopyTree(zoltest::ExamplePath(package), dir);
    return dir;
}

using zoltest::EditFile;

// The host's answer to one property, read from its JSON report.
struct HostAnswer {
    bool found = false;
    int result = -1;
    int status = -1;
    std::string message; // UTF-8
    std::string value;   // UTF-8, properties 1 to 4
    std::string output;  // the whole report
    DWORD exitCode = 0xFFFFFFFF;
};

// Reads a JSON string starting at the opening quote; returns the UTF-8 text.
inline std::string JsonString(const std::string& text, size_t at)
{
    std::string out;
    if (at >= text.size() || text[at] != '"')
        return out;
    for (size_t i = at + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"')
            break;
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        char e = text[++i];
        switch (e) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'u':
            out += static_cast<char>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
            i += 4;
            break;
        default: out += e; break;
        }
    }
    return out;
}

inline HostAnswer ParseProperty(const zoltest::ProcessResult& run, int type)
{
    HostAnswer answer;
    answer.output = run.output;
    answer.exitCode = run.exitCode;
    const std::string head = "\"" + std::to_string(type) + "\":{\"result\":";
    size_t at = run.output.find(head);
    if (at == std::string::npos)
        return answer;
    answer.found = true;
    answer.result = std::atoi(run.output.c_str() + at + head.size());
    size_t end = run.output.find('}', at);
    size_t status = run.output.find("\"status\":", at);
    if (status != std::string::npos && status < end)
        answer.status = std::atoi(run.output.c_str() + status + 9);
    size_t message = run.output.find("\"message\":\"", at);
    if (message != std::string::npos && message < end)
        answer.message = JsonString(run.output, message + 10);
    size_t value = run.output.find("\"value\":\"", at);
    if (value != std::string::npos && value < end)
        answer.value = JsonString(run.output, value + 8);
    return answer;
}

// Runs the host's check (no install) on the package and returns property 5.
inline HostAnswer CheckPackage(const std::wstring& dir, const std::wstring& language = L"en",
                               int property = 5)
{
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--check --json --lang " + language);
    return ParseProperty(run, property);
}

// The main log's checklist lines ("    - " questions and their answers).
inline std::vector<std::string> ChecklistLines(const std::string& log)
{
    std::vector<std::string> lines;
    for (const std::string& line : zoltest::Lines(log)) {
        if (line.compare(0, 6, "    - ") == 0)
            lines.push_back(line);
    }
    return lines;
}

} // namespace prereqtest
