#include "package/wmiquery.h"

#include "log/cmplog.h"
#include "support/str.h"
#include "support/wformat.h"

#include <string.h>
#include <wchar.h>

namespace {

const size_t kModelChars = 255; // 254 characters and a terminator

// Owns one VARIANT for the span of a property read.
class CVariantScope
{
public:
    CVariantScope() { VariantInit(&m_value); }
    ~CVariantScope() { VariantClear(&m_value); }
    CVariantScope(const CVariantScope&) = delete;
    CVariantScope& operator=(const CVariantScope&) = delete;
    VARIANT* get() { return &m_value; }

private:
    VARIANT m_value;
};

// Copies the first length characters of text into a model-name buffer and
// removes their trailing white space. Returns false when the trimmed name does
// not fit 254 characters: such a name is never compared, so it never matches.
bool PrepareModelName(const wchar_t* text, size_t length, wchar_t (&buffer)[kModelChars])
{
    std::wstring copy(text, length);
    TrimRight(&copy[0]);
    size_t trimmed = wcslen(copy.c_str());
    if (trimmed >= kModelChars)
        return false;
    wmemcpy(buffer, copy.c_str(), trimmed + 1);
    return true;
}

} // namespace

CWmiQuery::CWmiQuery() : m_nLastError(0), m_pValue(new BYTE[kValueBytes]()), m_bComInitialized(false),
      m_bValueCut(false)
{
    m_szLastError[0] = L'\0';

    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) {
        // The caller already set this thread up in another model, as a
        // setup program with windows does (single-threaded). The query runs
        // in the caller's apartment; this object owes it no CoUninitialize.
    } else if (FAILED(hr)) {
        RecordError();
        return;
    } else {
        m_bComInitialized = true;
    }

    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                              nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
        ReleaseAll();
        RecordError();
        return;
    }

    hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                          m_pLocator.put_void());
    if (FAILED(hr) || !m_pLocator) {
        ReleaseAll();
        RecordError();
    }
}

CWmiQuery::~CWmiQuery() { ReleaseAll(); }

void CWmiQuery::RecordError()
{
    m_nLastError = ERROR_COM_INIT;
    CopyTruncate(m_szLastError, 256, L"An error occurred initializing the COM environment.");
}

// Every interface is released before COM is left, newest first.
void CWmiQuery::ReleaseAll()
{
    m_pEnumerator.reset();
    m_pServices.reset();
    m_pLocator.reset();
    if (m_bComInitialized) {
        m_bComInitialized = false;
        CoUninitialize();
    }
}

int CWmiQuery::ConnectNamespace(const wchar_t* namespacePath)
{
    if (!m_pLocator || namespacePath == nullptr)
        return 0;
    CUniqueBstr path(SysAllocString(namespacePath));
    if (!path)
        return 0;
    HRESULT hr = m_pLocator->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                           m_pServices.put());
    if (FAILED(hr) || !m_pServices) {
        ReleaseAll();
        RecordError();
        return 0;
    }
    hr = CoSetProxyBlanket(m_pServices.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        ReleaseAll();
        RecordError();
        return 0;
    }
    return 1;
}

int CWmiQuery::ExecuteQuery(const wchar_t* className)
{
    if (!m_pServices || className == nullptr || wcslen(className) > 255)
        return 0;
    wchar_t query[300];
    if (!FormatWideBuffer(query, 300, L"SELECT * FROM %s", className))
        return 0;
    CUniqueBstr language(SysAllocString(L"WQL"));
    CUniqueBstr text(SysAllocString(query));
    if (!language || !text)
        return 0;
    HRESULT hr = m_pServices->ExecQuery(language.get(), text.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                        m_pEnumerator.put());
    return hr == S_OK ? 1 : 0;
}

int CWmiQuery::GetPropertyValue(const wchar_t* propertyName, BYTE* output, size_t outputBytes)
{
    if (!m_pEnumerator || propertyName == nullptr || output == nullptr)
        return 0;

    ULONG count = 0;
    m_pEnumerator->Reset();
    for (;;) {
        CComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT hr = m_pEnumerator->Next(WBEM_INFINITE, 1, object.put(), &returned);
        if (FAILED(hr) || returned == 0)
            break;
        ++count;
    }
    m_pEnumerator->Reset();

    for (ULONG index = 0; index < count; ++index) {
        CComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT hr = m_pEnumerator->Next(WBEM_INFINITE, 1, object.put(), &returned);
        if (FAILED(hr) || returned == 0 || !object)
            break;
        CVariantScope value;
        if (FAILED(object->Get(propertyName, 0, value.get(), nullptr, nullptr))) {
            m_pEnumerator.reset();
            return 0;
        }
        VARIANT* v = value.get();
        if (V_VT(v) == VT_BSTR) {
            size_t chars = outputBytes / sizeof(wchar_t);
            if (chars > 256)
                chars = 256;
            m_bValueCut = chars == 0 ||
                          !FormatWideBuffer(reinterpret_cast<wchar_t*>(output), chars, L"%s", V_BSTR(v) ? V_BSTR(v) : L"");
        } else if (V_VT(v) == VT_I4) {
            m_bValueCut = false;
            if (outputBytes >= sizeof(LONG))
                memcpy(output, &V_I4(v), sizeof(LONG));
        } else if (V_VT(v) == (VT_ARRAY | VT_UI1)) {
            m_bValueCut = false;
            size_t limit = outputBytes < kValueBytes ? outputBytes : kValueBytes;
            for (LONG i = 0; static_cast<size_t>(i) < limit; ++i) {
                BYTE b = 0;
                if (FAILED(SafeArrayGetElement(V_ARRAY(v), &i, &b)))
                    break;
                output[i] = b;
            }
        }
    }
    return 1;
}

int CWmiQuery::IsComputerModel(const wchar_t* model)
{
    if (model == nullptr)
        return 0;
    if (!ConnectNamespace(L"ROOT\\CIMV2"))
        return 0;
    if (!ExecuteQuery(L"Win32_ComputerSystem"))
        return 0;
    if (!GetPropertyValue(L"Model", m_pValue.get(), kValueBytes))
        return 0;

    // Names are compared whole: a model name that does not fit the
    // comparison buffers (254 characters once trailing white space is
    // removed), or a computer model that was cut when it was read, never
    // matches, so two different long names can never look alike.
    if (m_bValueCut)
        return 0;
    const wchar_t* value = reinterpret_cast<const wchar_t*>(m_pValue.get());
    wchar_t computer[kModelChars];
    wchar_t listed[kModelChars];
    if (!PrepareModelName(value, wcsnlen(value, kValueBytes / sizeof(wchar_t)), computer))
        return 0;
    if (!PrepareModelName(model, wcslen(model), listed))
        return 0;
    return CStr(computer).CompareNoCase(listed) == 0 ? 1 : 0;
}
