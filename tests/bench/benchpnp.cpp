// The PnP install of 1, 10 and 50 present chipset devices through the
// component's export, next to the platform work it cannot avoid: copying the
// driver files into the staging folder and one driver update per device.
#include "benchpnp.h"

#include <windows.h>
#include <setupapi.h>
#include <devguid.h>
#include <newdev.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "component.h"
#include "support/handles.h"

namespace {

typedef int(WINAPI* PFN_Install)(int, void*, wchar_t*, int, const wchar_t*);

bool AddChipsetDevice(const wchar_t* id)
{
    CUniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr));
    SP_DEVINFO_DATA data = {sizeof(data)};
    if (!set || !SetupDiCreateDeviceInfoW(set.get(), L"SYSTEM", &GUID_DEVCLASS_SYSTEM, nullptr, nullptr,
                                          DICD_GENERATE_ID, &data))
        return false;
    std::vector<wchar_t> ids(id, id + wcslen(id));
    ids.push_back(0);
    ids.push_back(0);
    return SetupDiSetDeviceRegistryPropertyW(set.get(), &data, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(ids.data()),
                                             static_cast<DWORD>(ids.size() * sizeof(wchar_t))) &&
           SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &data);
}

// The install may cost at most this much more than staging and the updates
// alone.
const double kPnpInstallGoal = 1.1;

const wchar_t* const kStagedFiles[] = {L"zolchip.inf", L"zolchip_x86.cat", L"zolchip_amd64.cat", L"zolchip.sys",
                                       L"zolchip.cfg", L"zolchip_src.dat"};

} // namespace

void BenchPnp(MeasurePairFn measure, ReportFn report)
{
    const std::wstring dir = L"C:\\zolbench\\chipset";
    SetCurrentDirectoryW(dir.c_str());
    const std::wstring staging = L"C:\\zolbench\\staging";
    CreateDirectoryW(staging.c_str(), nullptr);

    int created = 0;
    for (int count : {1, 10, 50}) {
        for (; created < count; ++created) {
            if (!AddChipsetDevice(CComponent::kBuiltInHardwareIds[created])) {
                printf("  cannot create chipset device %d\n", created);
                return;
            }
        }
        // Loading runs the start-up, which builds the device list once.
        CUniqueLibrary module(LoadLibraryW((dir + L"\\zolcomp.dll").c_str()));
        PFN_Install install = module ? reinterpret_cast<PFN_Install>(GetProcAddress(module.get(), "Install")) : nullptr;
        if (!install) {
            printf("  cannot load the component\n");
            return;
        }
        // Each driver update takes most of a second under Wine: five runs a
        // side, in turns, with no warm-up run (every run repeats the same
        // updates). Run apart, a side's median follows what else the
        // machine does in those minutes. One device's install is short
        // enough for 21: its update alone takes 0.5 to 1.2 s from one round
        // to the next, and with five or eleven rounds its median moved by a
        // tenth or more between bench runs while the component's own work
        // around the update is some 50 ms.
        const int runs = count == 1 ? 21 : 5;
        int result = -1;
        PAIRTIMING t = measure(
            runs, false,
            [&] {
                wchar_t message[1024] = {};
                result = install(0, nullptr, message, 0, L"en");
            },
            [&] {
                for (const wchar_t* name : kStagedFiles)
                    CopyFileW((dir + L"\\" + name).c_str(), (staging + L"\\" + name).c_str(), FALSE);
                std::wstring inf = staging + L"\\zolchip.inf";
                for (int i = 0; i < count; ++i) {
                    BOOL reboot = FALSE;
                    UpdateDriverForPlugAndPlayDevicesW(nullptr, CComponent::kBuiltInHardwareIds[i], inf.c_str(),
                                                       INSTALLFLAG_FORCE, &reboot);
                }
            });
        if (result != 1)
            printf("  install of %d devices returned %d\n", count, result);
        report("PnP install, " + std::to_string(count) + (count == 1 ? " device" : " devices"), kPnpInstallGoal,
               t.component, t.platform);
    }
}
