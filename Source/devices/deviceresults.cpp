#include "devices/deviceresults.h"

#include "devices/devicelist.h"
#include "support/asciicase.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/wformat.h"

#include <setupapi.h>
#include <cfgmgr32.h>
#include <wchar.h>

namespace {

// A first guess; the platform says how much a longer list needs.
const DWORD kFirstIdListBytes = 2048;

bool ReadMultiString(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, std::vector<wchar_t>& buffer)
{
    DWORD bytes = kFirstIdListBytes;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Two spare characters keep a list without its closing entry ended.
        buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD type = 0, required = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set, data, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                              bytes, &required))
            return type == REG_MULTI_SZ;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= bytes)
            return false;
        bytes = required;
    }
    return false;
}

void ReadDriverValue(HKEY key, const wchar_t* name, wchar_t* out, size_t chars)
{
    out[0] = L'\0';
    std::vector<wchar_t> value(chars + 1, L'\0');
    DWORD type = 0, size = static_cast<DWORD>(chars * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    value[chars] = L'\0';
    CopyIfFits(out, chars, value.data());
}

void ReadDriver(HDEVINFO set, SP_DEVINFO_DATA* data, ZOL_DEVICE_RESULT& record)
{
    record.szService[0] = record.szInf[0] = record.szDriverVersion[0] = L'\0';
    wchar_t service[ZOL_DEVICE_TEXT_CHARS + 1] = {};
    DWORD type = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, data, SPDRP_SERVICE, &type, reinterpret_cast<BYTE*>(service),
                                          ZOL_DEVICE_TEXT_CHARS * sizeof(wchar_t), nullptr) &&
        type == REG_SZ)
        CopyIfFits(record.szService, ZOL_DEVICE_TEXT_CHARS, service);

    HKEY raw = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (raw == INVALID_HANDLE_VALUE)
        return;
    CUniqueRegKey key(raw);
    ReadDriverValue(key.get(), L"InfPath", record.szInf, ZOL_DEVICE_TEXT_CHARS);
    ReadDriverValue(key.get(), L"DriverVersion", record.szDriverVersion, ZOL_DEVICE_TEXT_CHARS);
    if (record.szDriverVersion[0] == L'\0' && record.szInf[0] != L'\0')
        ReadInstalledInfVersion(record.szInf, record.szDriverVersion, ZOL_DEVICE_TEXT_CHARS);
}

// Whether the device lists one of supportedIds now; if so, device holds its
// record (outcome ZOL_DEVICE_PRESENT, the driver it has now) and the IDs.
bool DescribeSupportedDevice(HDEVINFO set, SP_DEVINFO_DATA* data, const CStrList& supportedIds,
                             std::vector<wchar_t>& multi, SUPPORTEDDEVICE* device)
{
    if (!ReadMultiString(set, data, SPDRP_HARDWAREID, multi))
        return false;
    CStrList present;
    AppendQualifyingHardwareIds(multi.data(), present);

    device->ids.clear();
    for (const CStr& id : supportedIds) {
        bool listed = false;
        for (const CStr& entry : present)
            listed = listed || EqualsAsciiNoCase(entry.GetString(), id.GetString());
        bool known = false;
        for (const CStr& taken : device->ids)
            known = known || taken.Equals(id.GetString());
        if (listed && !known)
            device->ids.push_back(id);
    }
    if (device->ids.empty())
        return false;
    ZeroMemory(&device->record, sizeof(device->record));
    device->record.nOutcome = ZOL_DEVICE_PRESENT;
    if (!SetupDiGetDeviceInstanceIdW(set, data, device->record.szInstanceId, ZOL_DEVICE_ID_CHARS, nullptr))
        device->record.szInstanceId[0] = L'\0';
    CopyTruncate(device->record.szHardwareId, ZOL_HARDWARE_ID_CHARS, device->ids.front().GetString());
    ReadDriver(set, data, device->record);
    return true;
}

} // namespace

void ReadInstalledInfVersion(const wchar_t* infName, wchar_t* out, size_t chars)
{
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    wchar_t path[MAX_PATH];
    if (!IsPlainName(infName) || length == 0 || length >= MAX_PATH ||
        !FormatWideBuffer(path, MAX_PATH, L"%s\\inf\\%s", windows, infName))
        return;
    CUniqueInf inf(SetupOpenInfFileW(path, nullptr, INF_STYLE_WIN4, nullptr));
    INFCONTEXT context;
    if (!inf.valid() || !SetupFindFirstLineW(inf.get(), L"Version", L"DriverVer", &context))
        return;
    std::vector<wchar_t> field(chars, L'\0');
    if (SetupGetStringFieldW(&context, 2, field.data(), static_cast<DWORD>(chars), nullptr))
        CopyIfFits(out, chars, field.data());
}

CSupportedDevices FindSupportedDevices(const CStrList& supportedIds)
{
    CSupportedDevices devices;
    if (supportedIds.empty())
        return devices;
    CUniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set.valid())
        return devices;
    std::vector<wchar_t> multi;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiEnumDeviceInfo(set.get(), index, &data))
            break;
        SUPPORTEDDEVICE device;
        if (DescribeSupportedDevice(set.get(), &data, supportedIds, multi, &device))
            devices.push_back(device);
    }
    return devices;
}

CSupportedDevices FindSupportedDevicesAmong(const CStrList& instanceIds, const CStrList& supportedIds)
{
    CSupportedDevices devices;
    if (supportedIds.empty() || instanceIds.empty())
        return devices;
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set.valid())
        return devices;
    std::vector<wchar_t> multi;
    for (const CStr& instance : instanceIds) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (!SetupDiOpenDeviceInfoW(set.get(), instance.GetString(), nullptr, 0, &data))
            continue;
        // A device that has gone since (it may stay known to the platform
        // without being present) is left out, as an enumeration of the
        // present devices leaves it out.
        ULONG status = 0, problem = 0;
        if (CM_Get_DevNode_Status(&status, &problem, data.DevInst, 0) != CR_SUCCESS)
            continue;
        SUPPORTEDDEVICE device;
        if (DescribeSupportedDevice(set.get(), &data, supportedIds, multi, &device))
            devices.push_back(device);
    }
    return devices;
}

void ReadCurrentDrivers(CSupportedDevices& devices)
{
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set.valid())
        return;
    for (SUPPORTEDDEVICE& device : devices) {
        SP_DEVINFO_DATA data = {sizeof(data)};
        if (device.record.szInstanceId[0] &&
            SetupDiOpenDeviceInfoW(set.get(), device.record.szInstanceId, nullptr, 0, &data))
            ReadDriver(set.get(), &data, device.record);
    }
}

void MarkNotAttempted(CSupportedDevices& devices, int reason)
{
    for (SUPPORTEDDEVICE& device : devices) {
        device.record.nOutcome = ZOL_DEVICE_NOT_ATTEMPTED;
        device.record.nReason = reason;
        device.record.dwError = 0;
        device.record.bRestart = 0;
    }
}

void ApplyUpdateOutcomes(CSupportedDevices& devices, const std::vector<UPDATEOUTCOME>& outcomes)
{
    for (SUPPORTEDDEVICE& device : devices) {
        bool named = false, failed = false, restart = false;
        DWORD error = 0;
        for (const CStr& id : device.ids) {
            for (const UPDATEOUTCOME& outcome : outcomes) {
                if (!outcome.hardwareId.Equals(id.GetString()))
                    continue;
                named = true;
                restart = restart || outcome.restart;
                if (!outcome.updated && !failed) {
                    failed = true;
                    error = outcome.error;
                }
            }
        }
        if (!named)
            continue;
        device.record.nOutcome = failed ? ZOL_DEVICE_FAILED : ZOL_DEVICE_UPDATED;
        device.record.nReason = ZOL_REASON_NONE;
        device.record.dwError = error;
        device.record.bRestart = restart ? 1 : 0;
    }
}

int CopyDeviceResults(const CSupportedDevices& devices, ZOL_DEVICE_RESULTS* out, int capacityBytes,
                      int packageState)
{
    // Nothing is written unless the header fits and the host's records are
    // the records this component writes.
    const size_t header = ZOL_DEVICE_RESULTS_BYTES(0);
    if (out == nullptr || capacityBytes < 0 || static_cast<size_t>(capacityBytes) < header ||
        out->cbRecord != sizeof(ZOL_DEVICE_RESULT))
        return 0;
    out->nCount = static_cast<int>(devices.size());
    out->nPackageState = packageState;
    out->nReserved = 0;
    if ((static_cast<size_t>(capacityBytes) - header) / sizeof(ZOL_DEVICE_RESULT) < devices.size())
        return 0;
    for (size_t i = 0; i < devices.size(); ++i)
        out->Devices[i] = devices[i].record;
    return 1;
}
