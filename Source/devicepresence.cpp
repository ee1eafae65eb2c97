// The component's list of present hardware IDs and the presence test.
#include "support/asciicase.h"
#include "basecomp.h"

#include <wchar.h>

namespace {

const DWORD kHardwareIdBufferBytes = 2048;

bool ListsOneOf(const CStr& entry, const CStrList& ids)
{
    for (const CStr& id : ids) {
        if (EqualsAsciiNoCase(entry.GetString(), id.GetString()))
            return true;
    }
    return false;
}

} // namespace

int CBaseComponent::BuildDeviceList(int flag)
{
    CWin2000DeviceList list;
    m_vPresentDeviceIds.clear();
    m_vPresentIdDevices.clear();
    m_vPresentDeviceInstances.clear();
    list.EnumerateDevices();

    // Two spare characters behind the buffer keep the walk terminated even
    // when the platform hands back a list without its closing empty entry.
    wchar_t ids[kHardwareIdBufferBytes / sizeof(wchar_t) + 2];
    wchar_t instance[ZOL_DEVICE_ID_CHARS];
    for (size_t index = 0; index < list.GetDeviceCount(); ++index) {
        ZeroMemory(ids, sizeof(ids));
        DWORD size = kHardwareIdBufferBytes;
        if (!list.GetHardwareIds(index, reinterpret_cast<BYTE*>(ids), &size))
            continue;
        const size_t before = m_vPresentDeviceIds.size();
        AppendQualifyingHardwareIds(ids, m_vPresentDeviceIds);
        if (m_vPresentDeviceIds.size() == before)
            continue;
        size_t device = kUnknownDevice;
        if (list.GetInstanceId(index, instance, ZOL_DEVICE_ID_CHARS)) {
            device = m_vPresentDeviceInstances.size();
            m_vPresentDeviceInstances.push_back(CStr(instance));
        }
        m_vPresentIdDevices.resize(m_vPresentDeviceIds.size(), device);
    }
    return 1;
}

void AppendQualifyingHardwareIds(wchar_t* multiString, CStrList& out)
{
    bool first = true;
    for (wchar_t* entry = multiString; *entry; entry += wcslen(entry) + 1) {
        if (!first) {
            for (wchar_t* p = entry; *p; ++p) {
                if (*p >= L'a' && *p <= L'z')
                    *p = static_cast<wchar_t>(*p - L'a' + L'A');
            }
        }
        first = false;
        if (wcsstr(entry, L"&REV") || wcsstr(entry, L"&CC"))
            continue;
        out.push_back(CStr(entry));
    }
}

int CBaseComponent::IsDevicePresent(const wchar_t* hardwareId)
{
    if (hardwareId == nullptr)
        return 0;
    if (m_vPresentDeviceIds.empty())
        BuildDeviceList(0);
    for (const CStr& id : m_vPresentDeviceIds) {
        if (EqualsAsciiNoCase(id.GetString(), hardwareId))
            return 1;
    }
    return 0;
}

bool CBaseComponent::FindPresentDeviceInstances(const CStrList& ids, CStrList* instances) const
{
    instances->clear();
    // A device's entries follow one another: it is taken once, at its first
    // entry that matches.
    size_t last = kUnknownDevice;
    for (size_t i = 0; i < m_vPresentDeviceIds.size(); ++i) {
        const size_t device = i < m_vPresentIdDevices.size() ? m_vPresentIdDevices[i] : kUnknownDevice;
        if ((device != kUnknownDevice && device == last) || !ListsOneOf(m_vPresentDeviceIds[i], ids))
            continue;
        if (device == kUnknownDevice)
            return false;
        instances->push_back(m_vPresentDeviceInstances[device]);
        last = device;
    }
    return true;
}
