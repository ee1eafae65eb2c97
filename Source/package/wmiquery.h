// CWmiQuery: one COM initialization and one WMI connection, used to read the
// computer's model name. COM is initialized for the calling thread (multi-
// threaded model) for the object's lifetime; on a thread the caller already
// set up in another model the query runs in the caller's apartment and leaves
// the thread's COM state as it found it.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <memory>

#include "support/handles.h"

class CWmiQuery
{
public:
    enum { ERROR_COM_INIT = 11 };
    static constexpr size_t kValueBytes = 512;

    CWmiQuery();
    ~CWmiQuery();

    CWmiQuery(const CWmiQuery&) = delete;
    CWmiQuery& operator=(const CWmiQuery&) = delete;

    // Connects to a namespace such as "ROOT\CIMV2". 1 or 0.
    int ConnectNamespace(const wchar_t* namespacePath);
    // Runs "SELECT * FROM <className>" (at most 255 characters). 1 or 0.
    int ExecuteQuery(const wchar_t* className);
    // Reads a property of every result object into output (outputBytes bytes;
    // the last object's value stays). Strings are stored as wide text of at
    // most 255 characters, 32-bit integers as one integer, byte arrays byte by
    // byte; other types leave the output unchanged. 1 or 0.
    int GetPropertyValue(const wchar_t* propertyName, BYTE* output, size_t outputBytes = kValueBytes);
    // 1 when the computer's model equals model, ignoring case and trailing
    // white space; else 0.
    int IsComputerModel(const wchar_t* model);

    int GetLastErrorCode() const { return m_nLastError; }
    const wchar_t* GetLastErrorText() const { return m_szLastError; }
    // The value of the last property read (kValueBytes bytes).
    const BYTE* GetValue() const { return m_pValue.get(); }

private:
    void RecordError();
    void ReleaseAll();

    CComPtr<IWbemLocator> m_pLocator;
    CComPtr<IWbemServices> m_pServices;
    CComPtr<IEnumWbemClassObject> m_pEnumerator;
    int m_nLastError;
    wchar_t m_szLastError[256];
    std::unique_ptr<BYTE[]> m_pValue;
    // Set while this object owes the thread one CoUninitialize.
    bool m_bComInitialized;
    // Set when the last text value read did not fit and was cut.
    bool m_bValueCut;
};
