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

    CInf(const CInf&) = delete;
    CInf& operator=(const CInf&) = delete;

protected:
    // Section names of the INF in file order, read with the profile reader.
    CStrList ReadSectionNames();
    // 1 when the INF's folder holds every file the driver update for
    // hardwareId would copy (CheckDriverPackageFiles); otherwise records
    // each missing or unsafe one and returns 0.
    int HasDriverPackageFiles(const wchar_t* hardwareId);

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
};
