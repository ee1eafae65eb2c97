// The WMI model query over Wine's real COM and WMI.
#include <gtest/gtest.h>
#include <windows.h>
#include <wbemidl.h>

#include <string>
#include <thread>

#include "package/wmiquery.h"
#include "testsupport.h"

namespace {

// The computer model as WMI reports it, read here without the component's
// code so that the tests do not depend on what the machine is called.
std::wstring MachineModel()
{
    static std::wstring model;
    static bool read = false;
    if (read)
        return model;
    std::thread worker([] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                             nullptr, EOAC_NONE, nullptr);
        IWbemLocator* locator = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                       reinterpret_cast<void**>(&locator)))) {
            IWbemServices* services = nullptr;
            BSTR ns = SysAllocString(L"ROOT\\CIMV2");
            if (SUCCEEDED(locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
                IEnumWbemClassObject* results = nullptr;
                BSTR wql = SysAllocString(L"WQL");
                BSTR query = SysAllocString(L"SELECT Model FROM Win32_ComputerSystem");
                if (SUCCEEDED(services->ExecQuery(wql, query, WBEM_FLAG_FORWARD_ONLY, nullptr, &results))) {
                    IWbemClassObject* object = nullptr;
                    ULONG returned = 0;
                    if (results->Next(WBEM_INFINITE, 1, &object, &returned) == S_OK && returned == 1) {
                        VARIANT value;
                        VariantInit(&value);
                        if (SUCCEEDED(object->Get(L"Model", 0, &value, nullptr, nullptr)) && V_VT(&value) == VT_BSTR)
                            model = V_BSTR(&value);
                        VariantClear(&value);
                        object->Release();
                    }
                    results->Release();
                }
                SysFreeString(query);
                SysFreeString(wql);
                services->Release();
            }
            SysFreeString(ns);
            locator->Release();
        }
        CoUninitialize();
    });
    worker.join();
    read = true;
    return model;
}

std::wstring Upper(std::wstring text)
{
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Runs body on a thread of its own, so the thread's COM state is known.
template <typename F>
void OnFreshThread(F body)
{
    std::thread worker(body);
    worker.join();
}

} // namespace

TEST(WmiQuery, MatchesTheComputerModelIgnoringCaseAndTrailingWhiteSpace)
{
    std::wstring model = MachineModel();
    ASSERT_FALSE(model.empty());
    ASSERT_GT(model.size(), 1u);

    CWmiQuery query;
    EXPECT_EQ(query.GetLastErrorCode(), 0);
    EXPECT_EQ(query.IsComputerModel(model.c_str()), 1);
    EXPECT_EQ(query.IsComputerModel((Upper(model) + L"  \t\r\n").c_str()), 1);
    EXPECT_EQ(query.IsComputerModel((L" " + model).c_str()), 0);          // leading space counts
    EXPECT_EQ(query.IsComputerModel(model.substr(0, model.size() - 1).c_str()), 0); // a prefix
    EXPECT_EQ(query.IsComputerModel((model + L"X").c_str()), 0);
    EXPECT_EQ(query.IsComputerModel(L""), 0);
    EXPECT_EQ(query.IsComputerModel(nullptr), 0);
    // The value read stays in the query's buffer.
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(query.GetValue())), model);
}

TEST(WmiQuery, OverLongModelNamesNeverMatch)
{
    std::wstring model = MachineModel();
    CWmiQuery query;
    // Trailing white space does not count towards the length.
    EXPECT_EQ(query.IsComputerModel((model + std::wstring(400, L' ')).c_str()), 1);
    // A name longer than the comparison buffer never matches, even when its
    // first 254 characters equal the computer's model followed by blanks.
    std::wstring padded = model + std::wstring(254 - model.size(), L' ') + L"tail";
    EXPECT_EQ(query.IsComputerModel(padded.c_str()), 0);
    EXPECT_EQ(query.IsComputerModel(std::wstring(255, L'A').c_str()), 0);
    EXPECT_EQ(query.IsComputerModel(std::wstring(1000, L'A').c_str()), 0);
}

TEST(WmiQuery, ReadsPropertiesOfTheLastQuery)
{
    CWmiQuery query;
    BYTE value[CWmiQuery::kValueBytes] = {};
    EXPECT_EQ(query.ExecuteQuery(L"Win32_ComputerSystem"), 0);      // not connected
    EXPECT_EQ(query.GetPropertyValue(L"Model", value), 0);          // no query yet
    ASSERT_EQ(query.ConnectNamespace(L"ROOT\\CIMV2"), 1);
    EXPECT_EQ(query.ExecuteQuery(std::wstring(256, L'x').c_str()), 0); // class name too long
    ASSERT_EQ(query.ExecuteQuery(L"Win32_ComputerSystem"), 1);
    ASSERT_EQ(query.GetPropertyValue(L"Model", value), 1);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(value)), MachineModel());

    // A 32-bit integer is stored as one integer.
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    BYTE number[CWmiQuery::kValueBytes] = {};
    ASSERT_EQ(query.GetPropertyValue(L"NumberOfLogicalProcessors", number), 1);
    LONG processors = 0;
    memcpy(&processors, number, sizeof(processors));
    EXPECT_EQ(processors, static_cast<LONG>(info.dwNumberOfProcessors));

    // A property the objects do not have fails and forgets the results.
    EXPECT_EQ(query.GetPropertyValue(L"NoSuchProperty", value), 0);
    EXPECT_EQ(query.GetPropertyValue(L"Model", value), 0);
}

TEST(WmiQuery, ConnectionFailureIsRecordedAndLaterCandidatesAnswerNo)
{
    OnFreshThread([] {
        {
            CWmiQuery query;
            EXPECT_EQ(query.ConnectNamespace(L"ROOT\\NOSUCHNAMESPACE"), 0);
            EXPECT_EQ(query.GetLastErrorCode(), 11);
            EXPECT_STREQ(query.GetLastErrorText(), L"An error occurred initializing the COM environment.");
            EXPECT_EQ(query.IsComputerModel(MachineModel().c_str()), 0);
        }
        // COM was uninitialized exactly once: the thread starts afresh.
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(hr, S_OK);
        if (SUCCEEDED(hr))
            CoUninitialize();
    });
}

TEST(WmiQuery, BalancesComInitialization)
{
    OnFreshThread([] {
        {
            CWmiQuery query;
            EXPECT_EQ(query.IsComputerModel(MachineModel().c_str()), 1);
        }
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(hr, S_OK);
        if (SUCCEEDED(hr))
            CoUninitialize();
    });
    // On a thread already in the multithreaded model, the query joins it
    // and leaves it initialized once.
    OnFreshThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            CWmiQuery query;
            EXPECT_EQ(query.IsComputerModel(MachineModel().c_str()), 1);
        }
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(WmiQuery, OnASingleThreadedCallerRunsInItsApartmentAndLeavesIt)
{
    OnFreshThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            CWmiQuery query;
            EXPECT_EQ(query.GetLastErrorCode(), 0);
            EXPECT_EQ(query.IsComputerModel(MachineModel().c_str()), 1);
            EXPECT_EQ(query.IsComputerModel(L"Other Model"), 0);
        }
        {
            // A failed connection lets go of the query's interfaces only,
            // never of the caller's COM.
            CWmiQuery query;
            EXPECT_EQ(query.ConnectNamespace(L"ROOT\\NOSUCHNAMESPACE"), 0);
            EXPECT_EQ(query.GetLastErrorCode(), 11);
        }
        // The caller's own initialization is untouched: still initialized
        // once, single-threaded.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}
