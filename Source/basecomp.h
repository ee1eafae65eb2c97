// CBaseComponent: the installer-component framework. A package component
// derives from it and overrides virtual operations; every framework operation
// is called through the virtual table so that a derived class can replace it.
// The order of the virtual operations is part of the class design.
#pragma once

#include <windows.h>

#include <vector>

#include "zolcomp/zolcomp.h"

#include "devices/devicelist.h"
#include "devices/deviceresults.h"
#include "log/cmplog.h"
#include "support/componentdirectory.h"
#include "support/str.h"

class CZolXMLReader;
class CWmiQuery;
class CInstallLock;
class CInstallRecord;
class CWin2000PnPDriver;
struct UNINSTALLPLAN;

// One supported operating system from the package definition.
struct SUPPORTEDOS {
    wchar_t szPlatform[64];
    int nMajor;       // -1 = any
    int nMinor;       // -1 = any
    int nServicePack; // minimum; -1 = any
    WORD wEdition;    // edition mask; 0xFFFF = any
};

enum InfType {
    INF_TYPE_NONE = -1,
    INF_TYPE_LEGACY = 1,
    INF_TYPE_PNP = 2,
    INF_TYPE_VIRTUAL = 3,
};

// GetInstalledVersionStatus: the installed key file's version against the
// package's. Older also stands for "nothing to compare".
enum InstalledVersionStatus {
    INSTALLED_VERSION_OLDER = 0,
    INSTALLED_VERSION_SAME = 1,
    INSTALLED_VERSION_NEWER = 2,
};

// Source path passed with every located log line of the framework.
#define BASECOMP_SOURCE L".\\Source\\basecomp.cpp"

class CBaseComponent
{
public:
    CBaseComponent();

    // Virtual operations, in slot order.
    virtual ~CBaseComponent();
    virtual int Initialize();
    virtual void Cleanup();
    virtual int ReadPackageDefinition(const wchar_t* path);
    virtual int ReadInstallerXml(const wchar_t* path);
    virtual int FindPackageDefinitionFile(wchar_t* buffer, int capacity);
    virtual int Install(int a, void* b, wchar_t* message, int d, const wchar_t* language);
    virtual int InstallLegacy(int a, void* b, wchar_t* message, int d, const wchar_t* language);
    virtual int InstallPnP(int a, void* b, wchar_t* message, int d, const wchar_t* language);
    virtual int InstallVirtual(int a, void* b, wchar_t* message, int d, const wchar_t* language);
    virtual int GetProperty(int type, void* out, int capacity, void* extra);
    virtual int GetPackageName(wchar_t* buffer, int capacity, const wchar_t* language);
    virtual int GetPackageDescription(wchar_t* buffer, int capacity, const wchar_t* language);
    virtual int GetInstalledVersion(wchar_t* buffer, int capacity);
    virtual int GetPackageVersion(wchar_t* buffer, int capacity);
    virtual int CheckPrerequisites(PREREQSTATUS* status, int capacity, const wchar_t* language);
    virtual int GetPropertyFlag6();
    virtual int GetPropertyFlag7();
    virtual int GetPropertyFlag8();
    virtual int IsOperatingSystemSupported();
    virtual int IsDiskSpaceAvailable(const wchar_t* drive);
    virtual int IsHardwarePresent();
    virtual int IsComponentInstalled();
    virtual int IsMarkedForRemoval();
    virtual int GetInstalledVersionStatus();
    virtual int CheckAdditionalRequirements(wchar_t* message, int capacity, const wchar_t* language);
    virtual int CheckDependencies(wchar_t* message, int capacity, const wchar_t* language);
    virtual void SetSilentCapable(int value);
    virtual void SetRequiredDiskSpace(int kilobytes);
    virtual void SetRebootRequired(int value);
    virtual void SetInstalledFilePath(const wchar_t* path);
    virtual void SetInfFile(const wchar_t* name, int type);
    virtual void AddSupportedHardwareId(const wchar_t* id);
    virtual void AddSupportedOperatingSystem(const SUPPORTEDOS& os);
    virtual const wchar_t* GetInfFileName();
    virtual int Is64BitOperatingSystem();
    // Taking the package off again: the export, then one path per INF type,
    // each given the package's install record and the ZOL_UNINSTALL_* flags.
    virtual int Uninstall(int a, void* b, wchar_t* message, int d, const wchar_t* language);
    virtual int UninstallPnP(CInstallRecord& record, int flags, wchar_t* message, const wchar_t* language);
    virtual int UninstallLegacy(CInstallRecord& record, int flags, wchar_t* message, const wchar_t* language);
    virtual int UninstallVirtual(CInstallRecord& record, int flags, wchar_t* message, const wchar_t* language);

    // Non-virtual operations.
    void AttachHostLog(CCmpLog* hostLog);
    int BuildDeviceList(int flag);
    int IsDevicePresent(const wchar_t* hardwareId);
    // The instance IDs of the devices of the present-device list that list
    // one of ids (by the presence test's rule), in device order. False when
    // such a device's instance ID could not be read when the list was built.
    bool FindPresentDeviceInstances(const CStrList& ids, CStrList* instances) const;
    int ServiceControlsAllDevices(const wchar_t* serviceName);
    int LoadDependencyFile(CZolXMLReader* reader);
    int FindSupportedModel(CZolXMLReader* reader, CWmiQuery* query);
    // One "**ERROR** - " line in both logs for each text (English, without
    // line end), as a failed install path reports what failed.
    void WriteErrorLines(const CStrList& texts);
    // One such line for each name the package definition gave that was
    // refused as a file name.
    void WriteRefusedNames();
    // The whole INF, or the named install section with its companions, as
    // the legacy (isVirtual 0) or virtual path installs it. 0 failure (with
    // message 5 when the package lacks a file the root device's driver
    // update needs), 1 success, 2 success with a restart needed (the package
    // asks for one, or a file or the device install was deferred to the
    // next restart).
    int InstallInfFile(int isVirtual, wchar_t* message, const wchar_t* language);
    // Takes the machine-wide install lock for Install, waiting at most
    // GetInstallWaitMs; logs the wait and, when it gives up, the holder.
    bool AcquireInstallLock(CInstallLock& lock);
    // Before the driver updates: waits at most 60 s while the platform has
    // a device installation pending, logging the wait.
    void WaitForPendingDeviceInstalls();
    // Property 10: the records of the last PnP install, or before one the
    // supported devices present (see ZOL_PROP_DEVICE_RESULTS).
    int GetDeviceResults(ZOL_DEVICE_RESULTS* out, int capacity);
    void RecordDeviceOutcomes(int pnpInstallCode, const std::vector<UPDATEOUTCOME>& outcomes);

    // The key of this package's install record: its INF file name and its
    // version; empty when either is unknown.
    CStr GetPackageKey();
    // Property 11: what Uninstall would do (see ZOL_PROP_UNINSTALL_PLAN).
    int GetUninstallPlan(ZOL_DEVICE_RESULTS* out, int capacity);
    // What Uninstall would do now, changing nothing.
    void PlanUninstall(UNINSTALLPLAN* plan);
    // Before the first driver update of a PnP install: the record of what
    // the updates change (see CInstallRecord). False, with a failure line,
    // when it cannot be written.
    bool RecordPnPInstall(CWin2000PnPDriver& driver, const wchar_t* stagedInf);
    // After the updates: the INF as the system holds it now, and (when every
    // update succeeded) the record marked installed.
    void FinishPnPRecord(int pnpInstallCode);
    // After an install that succeeded: the package's kept copy and its
    // entry among the installed programs (see uninstallentry.h). What fails
    // is named in WARNING lines; the install's result stays.
    void RegisterUninstallEntry();
    // After an uninstall removed its record: the entry describes the version
    // in place again, or goes, and the record's kept copy goes last. Logged
    // as steps; what fails is named in WARNING lines, the result stays.
    void RetireUninstallEntry(const CStr& recordKey, const CStr& infName);

    static int FindSubstring(const wchar_t* text, const wchar_t* pattern);
    static WORD GetEditionCode(const wchar_t* name);
    static WORD GetSystemEditionCode(DWORD productType);
    static int GetLanguageColumn(const wchar_t* language);
    static const wchar_t* SelectInstallMessage(int message, const wchar_t* language);
    // A message in the host's language column itself (the uninstallation's
    // messages are read this way).
    static const wchar_t* SelectMessage(int message, const wchar_t* language);

    // Accessors for the owner and for tests.
    CCmpLog* GetLog() const { return m_pLog; }
    const CStrList& GetSupportedHardwareIds() const { return m_vSupportedHardwareIds; }
    const CStrList& GetPresentDeviceIds() const { return m_vPresentDeviceIds; }
    const CStrList& GetScsiIds() const { return m_vScsiIds; }
    const std::vector<SUPPORTEDOS>& GetSupportedOperatingSystems() const { return m_vSupportedOs; }
    int GetInfType() const { return m_nInfType; }
    const CStr& GetInfSection() const { return m_strInfSection; }
    const CStr& GetServiceName() const { return m_strServiceName; }
    const wchar_t* GetPackageFileName() const { return m_szPackageFileName; }
    const wchar_t* GetShellExecuteFile() const { return m_szShellExecuteFile; }
    const wchar_t* GetShellExecuteDir() const { return m_szShellExecuteDir; }
    int IsSilentCapable() const { return m_bSilentCapable; }
    int IsRebootRequired() const { return m_bRebootRequired; }
    int Is64BitOs() const { return m_bIs64BitOs; }
    DWORD GetRequiredDiskSpace() const { return m_nRequiredDiskSpaceKb; }
    const CStr& GetInstalledFilePath() const { return m_strInstalledFilePath; }
    CZolXMLReader* GetPackageReader() const { return m_pPackageReader; }
    int IsDependencyChecked() const { return m_bDependencyChecked; }
    int IsModelSupported() const { return m_bModelSupported; }
    // Names the package definition gave that are not plain file names, in
    // the order read; none of them is used.
    const CStrList& GetRefusedNames() const { return m_vRefusedNames; }

    CBaseComponent(const CBaseComponent&) = delete;
    CBaseComponent& operator=(const CBaseComponent&) = delete;

protected:
    int m_bDependencyChecked;
    int m_bModelSupported;
    CStr m_strInfFile;
    CStr m_strInfSection;
    CStr m_strServiceName;
    int m_nInfType;
    wchar_t m_szPackageFileName[128];
    wchar_t m_szShellExecuteFile[MAX_PATH];
    wchar_t m_szShellExecuteDir[MAX_PATH];
    int m_bSilentCapable;
    int m_bRebootRequired;
    int m_bIs64BitOs;
    DWORD m_nRequiredDiskSpaceKb;
    CStr m_strInstalledFilePath;
    CWin2000DeviceList m_DeviceList;
    CZolXMLReader* m_pPackageReader;
    std::vector<SUPPORTEDOS> m_vSupportedOs;
    CStrList m_vSupportedHardwareIds;
    CStrList m_vPresentDeviceIds;
    CStrList m_vScsiIds;
    int m_bOwnsLog;
    CCmpLog* m_pLog;

private:
    // Set once the host's log has replaced the one the constructor created;
    // the host's object is never destroyed here.
    int m_bAdoptedHostLog;
    // The device each entry of m_vPresentDeviceIds came from: an index into
    // m_vPresentDeviceInstances, or kUnknownDevice when its instance ID could
    // not be read. An install finds its devices again by these, without
    // enumerating every device of the machine a second time.
    static constexpr size_t kUnknownDevice = static_cast<size_t>(-1);
    std::vector<size_t> m_vPresentIdDevices;
    CStrList m_vPresentDeviceInstances;
    // The devices the last install acted on, once it has run.
    CSupportedDevices m_vDeviceResults;
    int m_bDeviceResultsRecorded;
    CStrList m_vRefusedNames;
    // The record a PnP install is writing, while it runs.
    CStr m_strRecordKey;
    // A later version's record that this install replaces back (an install
    // of a version that a later one had superseded); removed once the
    // install succeeds.
    CStr m_strCollapsedKey;
    CStrList m_vRecordFailures;
    // Where Initialize found the package definition, and the folder that was
    // current then (the package's files are read from there): what a kept
    // copy of the package is made of.
    CStr m_strPackageDefinitionPath;
    CStr m_strPackageFolder;
};
