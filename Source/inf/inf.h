// CInf: one INF file, opened for the life of the object. It reads the
// identity lines of "Version", records which sections carry which directives,
// resolves destination directories, and carries the install operations that
// copy, delete and rename files, install services and create the root device.
// Every operation calls the others through the virtual table; the order of
// the virtual operations is part of the class design.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "support/handles.h"
#include "support/str.h"

#include <string>

class IInfJournal;

class CInf
{
public:
    // Opens the INF at path (resolved against the current directory) and
    // reads its "Version" section and section lists. IsOpen tells the outcome.
    explicit CInf(const wchar_t* path);

    // Virtual operations, in slot order.
    virtual ~CInf();
    virtual int IsOpen();
    virtual int InstallAll(int* pRebootNeeded);
    virtual int InstallFromSection(const wchar_t* section, int* pRebootNeeded);
    virtual int CreateRootDevice(int* pRebootNeeded);
    virtual int InstallSection(const wchar_t* section, HKEY hRootKey);
    virtual int InstallServices(const wchar_t* section);
    virtual int InstallSoftwareSettings(const wchar_t* section);
    virtual int CopyFileList(const wchar_t* section);
    virtual void CreateStartMenuItems();
    virtual const wchar_t* GetSignature();
    virtual const wchar_t* GetClass();
    virtual const wchar_t* GetClassGuid();
    virtual int GetServiceName(const wchar_t* section, wchar_t* buffer, int capacity);
    virtual int GetServiceStartType(const wchar_t* section, int* pStartType);
    virtual int ProcessCopyFiles(const wchar_t* section);
    virtual int ProcessDelFiles(const wchar_t* section);
    virtual int ProcessRenFiles(const wchar_t* section);
    virtual int DeleteFileList(const wchar_t* section);
    virtual int RenameFileList(const wchar_t* section);
    virtual int CreateDeviceInfo(CUniqueDevInfo* pDevInfo, SP_DEVINFO_DATA* pDevInfoData,
                                 const wchar_t* instanceName);
    virtual int ReadVersion();
    virtual void CollectCopyFilesSections();
    virtual void CollectAddServiceSections();
    virtual void CollectSoftwareSettingsSections();
    virtual int ReadDestinationDirs();
    virtual int EnsureFileDirectory(const wchar_t* filePath);
    virtual int EnsureDirectory(const wchar_t* directory);
    virtual int MakeTempCopy(const wchar_t* source, const wchar_t* target, CStr* pTempPath);
    virtual int GetDestinationDir(const wchar_t* section, CStr* pDirectory);
    virtual CStr* GetDirIdPath(int id, CStr* pDirectory);

    // Accessors for the owner and for tests.
    void SetVirtual(int value) { m_bVirtual = value; }
    int IsVirtual() const { return m_bVirtual; }
    int IsRebootNeeded() const { return m_bRebootNeeded; }
    const CStr& GetInfPath() const { return m_strInfPath; }
    const CStr& GetInfDir() const { return m_strInfDir; }
    const CStrList& GetCopyFilesSections() const { return m_vCopyFilesSections; }
    const CStrList& GetAddServiceSections() const { return m_vAddServiceSections; }
    const CStrList& GetSoftwareSettingsSections() const { return m_vSoftwareSettingsSections; }
    const CStrList& GetDestinationDirs() const { return m_vDestinationDirs; }
    // What failed, one English line each without line end, in the order it
    // happened: file operations, section and service installs, software
    // settings, the root device. The object writes no log; its owner does.
    const CStrList& GetFailures() const { return m_vFailures; }
    void AddFailure(const std::wstring& text) { m_vFailures.push_back(CStr(text.c_str())); }
    // 1 once the root device's driver update was not started because the
    // package lacks a file the update would copy.
    int IsPackageIncomplete() const { return m_bPackageIncomplete; }
    // Checks, before anything is changed, that the INF's folder holds every
    // file the install of section (or of the whole INF when section is
    // null) would read: the sources of its "CopyFiles" lists and what the
    // root device's driver update copies. 1 when all are there; otherwise
    // each missing or unsafe name is added as a failure, the package counts
    // as incomplete, and 0 is returned.
    int CheckPackageFiles(const wchar_t* section);

    // The journal told before each change an install makes (not owned; none
    // by default).
    void SetJournal(IInfJournal* journal) { m_pJournal = journal; }
    // 1 once the journal refused a change: no change it would have to be
    // told about is made after that, and the install fails.
    int IsJournalStopped() const { return m_bJournalStopped; }

    // The journal hooks of the install operations. Each tells the journal
    // what the change about to be made creates or replaces and returns 1
    // when the change may go ahead (always, without a journal), 0 when it
    // must not (the journal's failure is added once).
    // A file about to be written: a copy target or a rename's new name. A
    // copy that keeps an existing target changes nothing there.
    int NoteFileChange(const CStr& path, bool keepsExisting);
    // A file about to be deleted or renamed away; only one that is there.
    int NoteFileRemoval(const CStr& path);
    // The folders of directory (and above it) that are not there yet.
    int NoteFolders(const wchar_t* directory);
    // The keys and values the "AddReg" lines of section would create, HKR
    // standing for relativeKey under rootName ("HKLM"); relativeKey itself
    // when it is not there.
    int NoteRegistry(const wchar_t* section, const wchar_t* rootName, const wchar_t* relativeKey);
    // The services the "AddService" lines of section would create, with
    // their event-log entries.
    int NoteServices(const wchar_t* section);
    // The files and services a driver install from this INF for
    // hardwareIds would add.
    int NoteDriverInstall(const CStrList& hardwareIds);
    // A root device created in set, before it is registered.
    int NoteRootDevice(HDEVINFO set, SP_DEVINFO_DATA* element);
    // A start-menu shortcut and its folder.
    int NoteShortcut(const wchar_t* folder, const wchar_t* path);

    // Whether the INF has a section of that name (letter case aside).
    bool HasSection(const wchar_t* section);
    // Takes a package off with the INF's own uninstall section (such as
    // "DefaultUninstall"): its "DelFiles" and "RenFiles" lines with the
    // engine's own file operations (a file in use goes at the next
    // restart), its registry lines ("DelReg", "AddReg") through the
    // platform, then the "DelService" lines of section + ".Services". 1 on
    // success; *pRebootNeeded 1 when a change waits for the next restart.
    int RunUninstallSection(const wchar_t* section, int* pRebootNeeded);

    CInf(const CInf&) = delete;
    CInf& operator=(const CInf&) = delete;

protected:
    // Section names of the INF in file order, read with the profile reader.
    CStrList ReadSectionNames();
    // 1 when the INF's folder holds every file the driver update for
    // hardwareId would copy (CheckDriverPackageFiles); otherwise records
    // each missing or unsafe one and returns 0.
    int HasDriverPackageFiles(const wchar_t* hardwareId);
    // Whether the service's root device ("Root\LEGACY_<NAME>\0000", or
    // "Root\<NAME>\0000" for a virtual component) is there whole: 1 when
    // it is registered and has its driver (or the INF has none for it); 0
    // when there is none, or when a run cut off while creating it left one
    // behind (the platform may keep a created device before it is
    // registered), which is then removed so that it is made again; -1, with
    // a failure, when such a device cannot be removed.
    int FindWholeRootDevice(const wchar_t* service);

    // Upper bound of the numbered names MakeTempCopy tries before it gives
    // up. Tests lower it to reach the exhausted case.
    static unsigned long s_nTempNameLimit;

    int m_bVirtual;
    CUniqueInf m_hInf;
    int m_bRebootNeeded;
    CStr m_strSignature;
    CStr m_strClass;
    CStr m_strClassGuid;
    CStr m_strInfPath;
    CStr m_strInfDir;
    CStrList m_vCopyFilesSections;
    CStrList m_vAddServiceSections;
    CStrList m_vSoftwareSettingsSections;
    // Pairs: even positions a line's key, odd positions its directory.
    CStrList m_vDestinationDirs;
    CStrList m_vFailures;
    int m_bPackageIncomplete;
    IInfJournal* m_pJournal;
    int m_bJournalStopped;

private:
    // The journal's answer to one call (in `told`); on the first refusal
    // its failure is added and the install stops.
    int Journal(bool told);
    // The levels of key under rootName that are not there, from the top
    // down (those no longer than told characters were told already), then
    // value (when given) when it is not there.
    int NoteRegistryTarget(const wchar_t* rootName, const std::wstring& key, const wchar_t* value, size_t told);
};

// The predefined registry root an INF names ("HKLM", "HKEY_LOCAL_MACHINE",
// "HKCU", "HKCR", "HKU" and their long forms), with its short name; null for
// any other name (and for "HKR", which is relative).
HKEY InfRegistryRoot(const wchar_t* name, const wchar_t** shortName);
