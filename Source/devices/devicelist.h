// Enumeration of the present devices and their hardware-ID lists.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "support/str.h"

// One present device: the set it was enumerated from (not owned) and its
// device information record.
class W2KDEVINST
{
public:
    W2KDEVINST();
    virtual ~W2KDEVINST() {}

    int GetRegistryProperty(DWORD property, DWORD* dataType, BYTE* buffer, DWORD bufferSize, DWORD* requiredSize) const;

    HDEVINFO m_hDevInfo;
    SP_DEVINFO_DATA m_DevInfoData;
};

class CWin2000DeviceList
{
public:
    CWin2000DeviceList();
    virtual ~CWin2000DeviceList();

    CWin2000DeviceList(const CWin2000DeviceList&) = delete;
    CWin2000DeviceList& operator=(const CWin2000DeviceList&) = delete;

    void EnumerateDevices();
    size_t GetDeviceCount() const { return m_vDevices.size(); }
    // Copies device index's hardware-ID multi-string into buffer when *size
    // (bytes) is large enough; otherwise stores the size needed and returns 0.
    int GetHardwareIds(size_t index, BYTE* buffer, DWORD* size) const;
    // Copies device index's instance ID into buffer (chars characters with
    // the terminator); 0 when it does not fit or cannot be read.
    int GetInstanceId(size_t index, wchar_t* buffer, DWORD chars) const;

private:
    std::vector<HDEVINFO> m_vDevInfoSets;
    std::vector<W2KDEVINST> m_vDevices;
};

// The hardware ID for a 7-, 8- or 16-character package device code; an empty
// text for any other length.
CStr MakeHardwareId(const wchar_t* code);
// The same into id (the longest ID has 37 characters), terminated; returns
// its length, 0 with an empty text for a code of any other length.
const size_t kHardwareIdCapacity = 40;
size_t BuildHardwareId(const wchar_t* code, wchar_t (&id)[kHardwareIdCapacity]);

// Appends the entries of a device's hardware-ID multi-string that count for
// the presence test: the first entry as read, every later one upper-cased
// (A to Z, in place); entries holding "&REV" or "&CC" are left out.
void AppendQualifyingHardwareIds(wchar_t* multiString, CStrList& out);
