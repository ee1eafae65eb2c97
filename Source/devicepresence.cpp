// The component's list of present hardware IDs and the presence test.
#include "support/asciicase.h"
#include "basecomp.h"

#include <wchar.h>

namespace {

const DWORD kHardwareIdBufferBytes = 2048;

} // namespace

int CBaseComponent::BuildDeviceList(int flag)
{
    CWin2000DeviceList list;
    m_vPresentDeviceIds.clear();
    list.EnumerateDevices();

    // Two spare characters behind the buffer keep the walk terminated even
    // when the platform hands back a list without its closing empty entry.
    wchar_t ids[kHardwareIdBufferBytes / sizeof(wchar_t) + 2];
    for (size_t index = 0; index < list.GetDeviceCount(); ++index) {
        ZeroMemory(ids, sizeof(ids));
        DWORD size = kHardwareIdBufferBytes;
        if (!list.GetHardwareIds(index, reinterpret_cast<BYTE*>(ids), &size))
            continue;
        AppendQualifyingHardwareIds(ids, m_vPresentDeviceIds);
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
