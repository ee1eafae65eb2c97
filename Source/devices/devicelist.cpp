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
    device.GetRegistryProperty(SPDRP_HARDWAREID, &type, nullptr, 0, &required);
    if (buffer != nullptr && required != 0 && *size >= required)
        return device.GetRegistryProperty(SPDRP_HARDWAREID, &type, buffer, *size, nullptr);
    *size = required;
    return 0;
}

CStr MakeHardwareId(const wchar_t* code)
{
    if (code == nullptr)
        return CStr();
    size_t n = wcslen(code);
    std::wstring c(code);
    switch (n) {
    case 7:
        return CStr(FormatWide(L"*%s", code).c_str());
    case 8:
        return CStr(FormatWide(L"PCI\\VEN_%s&DEV_%s", c.substr(0, 4).c_str(), c.substr(4, 4).c_str()).c_str());
    case 16:
        return CStr(FormatWide(L"PCI\\VEN_%s&DEV_%s&SUBSYS_%s%s", c.substr(0, 4).c_str(), c.substr(4, 4).c_str(),
                               c.substr(12, 4).c_str(), c.substr(8, 4).c_str())
                        .c_str());
    default:
        return CStr();
    }
}
