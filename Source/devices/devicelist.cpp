#include "devices/devicelist.h"

#include "support/wformat.h"

#include <wchar.h>

W2KDEVINST::W2KDEVINST() : m_hDevInfo(nullptr)
{
    ZeroMemory(&m_DevInfoData, sizeof(m_DevInfoData));
}

int W2KDEVINST::GetRegistryProperty(DWORD property, DWORD* dataType, BYTE* buffer, DWORD bufferSize,
                                    DWORD* requiredSize) const
{
    if (m_hDevInfo == nullptr)
        return 0;
    SP_DEVINFO_DATA data = m_DevInfoData;
    return SetupDiGetDeviceRegistryPropertyW(m_hDevInfo, &data, property, dataType, buffer, bufferSize,
                                             requiredSize)
               ? 1
               : 0;
}

CWin2000DeviceList::CWin2000DeviceList() {}

CWin2000DeviceList::~CWin2000DeviceList()
{
    for (HDEVINFO set : m_vDevInfoSets) {
        if (set != INVALID_HANDLE_VALUE && set != nullptr)
            SetupDiDestroyDeviceInfoList(set);
    }
    m_vDevInfoSets.clear();
    m_vDevices.clear();
}

void CWin2000DeviceList::EnumerateDevices()
{
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    m_vDevInfoSets.push_back(set);
    if (set == INVALID_HANDLE_VALUE || set == nullptr)
        return;
    for (DWORD index = 0;; ++index) {
        W2KDEVINST device;
        device.m_DevInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!SetupDiEnumDeviceInfo(set, index, &device.m_DevInfoData))
            break;
        device.m_hDevInfo = set;
        m_vDevices.push_back(device);
    }
}

int CWin2000DeviceList::GetHardwareIds(size_t index, BYTE* buffer, DWORD* size) const
{
    if (size == nullptr || index >= m_vDevices.size())
        return 0;
    const W2KDEVINST& device = m_vDevices[index];
    DWORD required = 0, type = 0;
    // One call when the caller's buffer holds the list, which is nearly
    // always; otherwise the call has reported the size it needs.
    if (buffer != nullptr && *size != 0) {
        if (device.GetRegistryProperty(SPDRP_HARDWAREID, &type, buffer, *size, &required))
            return 1;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            required = 0;
        *size = required;
        return 0;
    }
    device.GetRegistryProperty(SPDRP_HARDWAREID, &type, nullptr, 0, &required);
    *size = required;
    return 0;
}

int CWin2000DeviceList::GetInstanceId(size_t index, wchar_t* buffer, DWORD chars) const
{
    if (buffer == nullptr || chars == 0 || index >= m_vDevices.size())
        return 0;
    const W2KDEVINST& device = m_vDevices[index];
    SP_DEVINFO_DATA data = device.m_DevInfoData;
    if (device.m_hDevInfo == nullptr || !SetupDiGetDeviceInstanceIdW(device.m_hDevInfo, &data, buffer, chars, nullptr)) {
        buffer[0] = L'\0';
        return 0;
    }
    return 1;
}

CStr MakeHardwareId(const wchar_t* code)
{
    wchar_t id[kHardwareIdCapacity];
    BuildHardwareId(code, id);
    return CStr(id);
}

size_t BuildHardwareId(const wchar_t* code, wchar_t (&id)[kHardwareIdCapacity])
{
    id[0] = L'\0';
    if (code == nullptr)
        return 0;
    // Built by copying the pieces into place.
    size_t length = 0;
    auto put = [&id, &length](const wchar_t* text, size_t count) {
        wmemcpy(id + length, text, count);
        length += count;
    };
    switch (wcslen(code)) {
    case 7:
        put(L"*", 1);
        put(code, 7);
        break;
    case 8:
        put(L"PCI\\VEN_", 8);
        put(code, 4);
        put(L"&DEV_", 5);
        put(code + 4, 4);
        break;
    case 16:
        // The subsystem is written device first, then vendor.
        put(L"PCI\\VEN_", 8);
        put(code, 4);
        put(L"&DEV_", 5);
        put(code + 4, 4);
        put(L"&SUBSYS_", 8);
        put(code + 12, 4);
        put(code + 8, 4);
        break;
    default:
        return 0;
    }
    id[length] = L'\0';
    return length;
}
