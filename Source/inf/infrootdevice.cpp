// CInf root device: a root-enumerated device node of the INF's class for the
// service ("LEGACY_<SERVICE>", or the service's own name for a virtual
// component), with a driver of the INF selected and installed by the class
// installer; a virtual component's device then gets its driver updated from
// the INF.
//
// Driver selection. The class-driver list of the INF is built and every
// driver in it selected in turn, so the last one the INF lists stays
// selected. Where the platform cannot do that - it has no class-driver lists,
// or no usable driver selection (Wine 8 has neither: building the list fails
// with ERROR_CALL_NOT_IMPLEMENTED, and its SetupDiSetSelectedDriverW ends the
// process) - the same driver is chosen another way: the device gets the
// hardware ID of the last model line of the INF, and the class installer
// selects the best compatible driver for it (DIF_SELECTBESTCOMPATDRV).
#include "inf/inf.h"

#include <cwchar>
#include <string>

#include "inf/devicenodes.h"
#include "inf/infcopyfiles.h"
#include "inf/infdriversection.h"
#include "inf/infpackagecheck.h"
#include "inf/infplatform.h"
#include "inf/infutil.h"
#include "inf/newdevlibrary.h"
#include "support/changepoint.h"
#include "support/errortext.h"
#include "support/plainname.h"
#include "support/registrykey.h"
#include "support/wformat.h"

namespace {

const int kServiceNameChars = 254;
// Install parameters added before the driver list is built: only the INF's
// own drivers, no configuration-manager calls, no file copies.
const DWORD kDeviceInstallFlags = DI_ENUMSINGLEINF | DI_DONOTCALLCONFIGMG | DI_NOFILECOPY;
// The hardware-ID property is read into 512 bytes.
const DWORD kHardwareIdBytes = 512;
// Longest device ID the platform accepts.
const size_t kHardwareIdChars = 200;

// A file (not a directory) at path.
bool IsPlainFile(const CStr& path)
{
    DWORD attributes = GetFileAttributesW(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Hardware ID (field 2) of the last model line of the INF, in the order the
// class-driver list has them: manufacturers in file order, then their models.
bool LastModelHardwareId(HINF hInf, CStr* hardwareId)
{
    hardwareId->Empty();
    INFCONTEXT manufacturer;
    if (!SetupFindFirstLineW(hInf, L"Manufacturer", nullptr, &manufacturer))
        return false;
    CInfDriverSection driverSection(hInf);
    do {
        CStr section;
        if (!driverSection.ModelsSection(&manufacturer, &section))
            continue;
        INFCONTEXT model;
        if (!SetupFindFirstLineW(hInf, section.GetString(), nullptr, &model))
            continue;
        do {
            CStr id;
            if (infutil::ReadStringField(&model, 2, kHardwareIdChars, &id) && !id.IsEmpty())
                *hardwareId = id;
        } while (SetupFindNextLine(&model, &model));
    } while (SetupFindNextLine(&manufacturer, &manufacturer));
    return !hardwareId->IsEmpty();
}

// The selection for a platform without class-driver lists or driver
// selection. 1 when a driver was selected or the INF has none for the
// device; 0 when a step failed.
int SelectDriverByHardwareId(HINF hInf, HDEVINFO set, SP_DEVINFO_DATA* element)
{
    CStr id;
    if (!LastModelHardwareId(hInf, &id))
        return 1; // no driver in the INF: the device stays without one
    // The property is a list: the ID and an empty string end it.
    std::wstring list(id.GetString(), id.GetLength());
    list.push_back(L'\0');
    list.push_back(L'\0');
    if (!(ZOL_CHANGE_POINT("SetupDiSetDeviceRegistryPropertyW(hardware ID)", list.c_str()),
          SetupDiSetDeviceRegistryPropertyW(set, element, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list.data()),
                                            static_cast<DWORD>(list.size() * sizeof(wchar_t)))))
        return 0;
    if (!InfPlatform().pBuildDriverInfoList(set, element, SPDIT_COMPATDRIVER))
        return 0;
    // No compatible driver leaves the device without one, as an INF without
    // drivers does.
    (ZOL_CHANGE_POINT("DIF_SELECTBESTCOMPATDRV", list.c_str()),
     InfPlatform().pCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, element));
    return 1;
}

// Adds name to list unless it is there already (letter case aside).
void AddOnceNoCase(CStrList* list, const CStr& name)
{
    for (const CStr& listed : *list) {
        if (listed.CompareNoCase(name.GetString()) == 0)
            return;
    }
    list->push_back(name);
}

} // namespace

int CInf::CreateRootDevice(int* pRebootNeeded)
{
    wchar_t name[kServiceNameChars + 1] = {};
    if (!GetServiceName(nullptr, name, kServiceNameChars) || name[0] == L'\0') {
        AddFailure(L"Root device not created: the INF names no service");
        return 0;
    }
    name[kServiceNameChars] = L'\0';
    CStr service(name);
    service.MakeUpper();

    CStr instance;
    instance.Format(m_bVirtual ? L"%s" : L"LEGACY_%s", service.GetString());

    // What the device's driver install adds: the driver of the INF's last
    // model, the one selected below.
    CStr modelId;
    if (LastModelHardwareId(m_hInf.get(), &modelId) && !NoteDriverInstall(CStrList{modelId}))
        return 0;

    CUniqueDevInfo set;
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof(element);
    int created = CreateDeviceInfo(&set, &element, instance.GetString());
    int result = 0;
    if (created)
        result = (ZOL_CHANGE_POINT("DIF_INSTALLDEVICE", instance.GetString()),
                  InfPlatform().pCallClassInstaller(DIF_INSTALLDEVICE, set.get(), &element))
                     ? 1
                     : 0;
    if (!result) {
        DWORD error = GetLastError();
        AddFailure(FormatWide(L"Root device install failed: %s, error %s", instance.GetString(),
                              DescribeError(error).GetString()));
    }

    if (result && m_bVirtual) {
        // Room for 512 bytes and a terminator the property may lack.
        wchar_t ids[kHardwareIdBytes / sizeof(wchar_t) + 2] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set.get(), &element, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<PBYTE>(ids), kHardwareIdBytes, nullptr) ||
            ids[0] == L'\0') {
            DWORD error = GetLastError();
            AddFailure(FormatWide(L"Root device install failed: %s has no hardware ID, error %s",
                                  instance.GetString(), DescribeError(error).GetString()));
            result = 0;
        } else if (!HasDriverPackageFiles(ids)) {
            // The update would copy a file the package lacks: the platform
            // would refuse the package or (Wine) retry the copy without end.
            result = 0;
        } else if (!(ZOL_CHANGE_POINT("UpdateDriverForPlugAndPlayDevicesW", ids),
                     UpdateDriverFromNewDev(ids, m_strInfPath.GetString(), 0, nullptr))) {
            DWORD error = GetLastError();
            AddFailure(FormatWide(L"Driver update failed: %s, error %s", ids, DescribeError(error).GetString()));
            result = 0;
        }
    }

    if (pRebootNeeded) {
        *pRebootNeeded = 0;
        SP_DEVINSTALL_PARAMS_W params = {};
        params.cbSize = sizeof(params);
        if (created && SetupDiGetDeviceInstallParamsW(set.get(), &element, &params) &&
            (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0)
            *pRebootNeeded = 1;
    }
    return result;
}

int CInf::HasDriverPackageFiles(const wchar_t* hardwareId)
{
    // The update reads the package from the INF's folder.
    const CStr& folder = m_strInfDir;
    PACKAGECHECK check;
    if (CheckDriverPackageFiles(m_hInf.get(), CStrList{CStr(hardwareId)},
                                [&folder](const wchar_t* relativePath) {
                                    return IsPlainFile(infutil::JoinPath(folder.GetString(), relativePath));
                                },
                                &check))
        return 1;
    for (const CStr& name : check.unsafe)
        AddFailure(UnsafeFileNameText(name.GetString()));
    for (const CStr& file : check.missing)
        AddFailure(FormatWide(L"Package file missing: %s", file.GetString()));
    m_bPackageIncomplete = 1;
    return 0;
}

int CInf::CheckPackageFiles(const wchar_t* section)
{
    if (!m_hInf.valid())
        return 0;
    CStrList sections;
    if (section != nullptr)
        sections.push_back(CStr(section));
    else
        sections = m_vCopyFilesSections;

    // The copies read each source under its own name from the INF's folder.
    CStrList missing;
    CStrList unsafe;
    for (const CStr& name : sections) {
        CStrList files;
        CStrList fileLists;
        infcopyfiles::ReadDirectiveLines(m_hInf.get(), name.GetString(), L"CopyFiles", &files, &fileLists);
        for (const CStr& fileList : fileLists) {
            CStrList sources;
            infcopyfiles::ReadFileListSources(m_hInf.get(), fileList.GetString(), &sources);
            for (const CStr& source : sources) {
                bool plain = IsPlainName(source.GetString());
                if (plain && IsPlainFile(infutil::JoinPath(m_strInfDir.GetString(), source.GetString())))
                    continue;
                AddOnceNoCase(plain ? &missing : &unsafe, source);
            }
        }
    }
    for (const CStr& name : unsafe)
        AddFailure(UnsafeFileNameText(name.GetString()));
    for (const CStr& file : missing)
        AddFailure(FormatWide(L"Package file missing: %s", file.GetString()));
    int complete = missing.empty() && unsafe.empty() ? 1 : 0;
    if (!complete)
        m_bPackageIncomplete = 1;

    // The root device's driver update reads the driver of the last model.
    CStr modelId;
    if (complete && LastModelHardwareId(m_hInf.get(), &modelId) && !HasDriverPackageFiles(modelId.GetString()))
        complete = 0;
    return complete;
}

int CInf::FindWholeRootDevice(const wchar_t* service)
{
    if (service == nullptr || service[0] == L'\0')
        return 0;
    int present = m_bVirtual ? HasRootDeviceNode(service) : HasLegacyDeviceNode(service);
    if (!present)
        return 0;
    CStr name(service);
    name.MakeUpper();
    CStr instance;
    instance.Format(m_bVirtual ? L"ROOT\\%s\\0000" : L"ROOT\\LEGACY_%s\\0000", name.GetString());
    CStr path(L"System\\CurrentControlSet\\Enum\\");
    path += instance;
    CRegistryKey key(HKEY_LOCAL_MACHINE, path.GetString());
    key.SetAccess(KEY_READ);
    DWORD phantom = 0;
    CStr driver;
    CStr modelId;
    bool registered = !key.ReadDword(L"Phantom", &phantom) || phantom == 0;
    bool driverDone = key.ReadString(L"Driver", &driver) || !LastModelHardwareId(m_hInf.get(), &modelId);
    if (registered && driverDone)
        return 1;
    // A device created but never registered is only its key to the
    // platform (Wine keeps it as a phantom, which the device functions do
    // not open): the key goes. A registered one is removed as a device.
    DWORD error = ERROR_SUCCESS;
    if (!registered) {
        LONG rc = (ZOL_CHANGE_POINT("RegDeleteTreeW(unregistered device)", instance.GetString()),
                   RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.GetString()));
        if (rc == ERROR_SUCCESS)
            rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.GetString());
        error = rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
    } else {
        bool restart = false;
        error = RemoveDeviceNode(instance.GetString(), &restart);
    }
    if (error != ERROR_SUCCESS) {
        AddFailure(FormatWide(L"Root device not created: %s, left unfinished, not removed, error %s",
                              instance.GetString(), DescribeError(error).GetString()));
        return -1;
    }
    return 0;
}

int CInf::CreateDeviceInfo(CUniqueDevInfo* pDevInfo, SP_DEVINFO_DATA* pDevInfoData, const wchar_t* instanceName)
{
    if (pDevInfo == nullptr || pDevInfoData == nullptr || instanceName == nullptr || instanceName[0] == L'\0' ||
        m_strClass.IsEmpty() || !m_hInf.valid())
        return 0;

    GUID classGuid = {};
    DWORD guids = 0;
    if (!SetupDiClassGuidsFromNameW(m_strClass.GetString(), &classGuid, 1, &guids) || guids == 0)
        return 0;
    pDevInfo->reset(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!pDevInfo->valid())
        return 0;
    HDEVINFO set = pDevInfo->get();

    pDevInfoData->cbSize = sizeof(*pDevInfoData);
    // Wine keeps the created device (as a phantom) before it is registered.
    if (!(ZOL_CHANGE_POINT("SetupDiCreateDeviceInfoW", instanceName),
          SetupDiCreateDeviceInfoW(set, instanceName, &classGuid, nullptr, nullptr,
                                   DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS, pDevInfoData)))
        return 0;
    if (!NoteRootDevice(set, pDevInfoData))
        return 0;
    if (!(ZOL_CHANGE_POINT("SetupDiRegisterDeviceInfo", instanceName),
          SetupDiRegisterDeviceInfo(set, pDevInfoData, SPRDI_FIND_DUPS, nullptr, nullptr, nullptr)))
        return 0;

    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsW(set, pDevInfoData, &params))
        return 0;
    if (m_strInfPath.GetLength() >= MAX_PATH)
        return 0;
    wcscpy(params.DriverPath, m_strInfPath.GetString());
    params.Flags |= kDeviceInstallFlags;
    if (!SetupDiSetDeviceInstallParamsW(set, pDevInfoData, &params))
        return 0;

    if (!InfPlatform().pBuildDriverInfoList(set, pDevInfoData, SPDIT_CLASSDRIVER)) {
        if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
            return SelectDriverByHardwareId(m_hInf.get(), set, pDevInfoData);
        return 0;
    }

    DWORD end = ERROR_NO_MORE_ITEMS;
    for (DWORD index = 0;; ++index) {
        SP_DRVINFO_DATA_W driver = {};
        driver.cbSize = sizeof(driver);
        if (!InfPlatform().pEnumDriverInfo(set, pDevInfoData, SPDIT_CLASSDRIVER, index, &driver)) {
            end = GetLastError();
            break;
        }
        if (!InfPlatform().pSetSelectedDriver(set, pDevInfoData, &driver)) {
            if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
                return SelectDriverByHardwareId(m_hInf.get(), set, pDevInfoData);
            // Installing an earlier driver of the list instead would be
            // wrong.
            return 0;
        }
    }
    return end == ERROR_NO_MORE_ITEMS ? 1 : 0;
}
