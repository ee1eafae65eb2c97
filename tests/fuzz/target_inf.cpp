// The INF reader's target: reading operations, then the reader's own file
// operations with every directory id pointing into a sandbox folder.
#include "targets.h"

#include "inf/inf.h"

#include <windows.h>

namespace zolfuzz {

namespace {

const char kInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=System\r\n"
    "ClassGUID={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Provider%\r\n"
    "CatalogFile.ntamd64=zolfuzz.cat\r\n"
    "\r\n"
    "[DestinationDirs]\r\n"
    "DefaultDestDir=12\r\n"
    "Fuzz.Files=11,sub\r\n"
    "Fuzz.Del=10\r\n"
    "\r\n"
    "[Install]\r\n"
    "CopyFiles=Fuzz.Files,@single.sys\r\n"
    "DelFiles=Fuzz.Del\r\n"
    "RenFiles=Fuzz.Ren\r\n"
    "AddReg=Fuzz.AddReg\r\n"
    "\r\n"
    "[Install.Services]\r\n"
    "AddService=zolfuzz,0x00000002,Fuzz.Service\r\n"
    "\r\n"
    "[Install.SoftwareSettings]\r\n"
    "AddReg=Fuzz.AddReg\r\n"
    "\r\n"
    "[Fuzz.Service]\r\n"
    "ServiceType=1\r\n"
    "StartType=3\r\n"
    "ServiceBinary=%12%\\zolfuzz.sys\r\n"
    "\r\n"
    "[Fuzz.Files]\r\n"
    "zolfuzz.sys,,,0x10\r\n"
    "copy.dat,source.dat\r\n"
    "\r\n"
    "[Fuzz.Del]\r\n"
    "gone.dat,,,1\r\n"
    "\r\n"
    "[Fuzz.Ren]\r\n"
    "new.dat,old.dat\r\n"
    "\r\n"
    "[Fuzz.AddReg]\r\n"
    "HKR,,Value,0x10001,1\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Provider=\"Fuzz \"\"Quoted\"\" Provider\"\r\n";

bool g_sandboxReady = false;

void PrepareSandbox()
{
    if (g_sandboxReady)
        return;
    // Every directory id resolves below the work directory.
    std::wstring root = WorkDirectory() + L"\\sandbox";
    CreateDirectoryW(root.c_str(), nullptr);
    SetEnvironmentVariableW(L"SystemRoot", root.c_str());
    SetEnvironmentVariableW(L"SystemDrive", root.c_str());
    SetEnvironmentVariableW(L"ALLUSERSPROFILE", root.c_str());
    SetEnvironmentVariableW(L"ProgramFiles", root.c_str());
    SetEnvironmentVariableW(L"TMP", root.c_str());
    WriteInput(L"zolfuzz.sys", "driver");
    WriteInput(L"source.dat", "source");
    g_sandboxReady = true;
}

} // namespace

std::vector<std::string> InfSeeds() { return {kInf}; }

void RunInf(const std::string& input)
{
    PrepareSandbox();
    if (!WriteInput(L"fuzz.inf", input))
        return;
    CInf inf(L"fuzz.inf");
    if (!inf.IsOpen())
        return;
    wchar_t name[260];
    for (int capacity : {1, 4, 260})
        inf.GetServiceName(nullptr, name, capacity);
    inf.GetServiceName(L"Install.Services", name, 260);
    int start = 0;
    inf.GetServiceStartType(nullptr, &start);
    inf.GetSignature();
    inf.GetClass();
    inf.GetClassGuid();
    inf.ReadDestinationDirs();
    for (const CStr& section : inf.GetCopyFilesSections()) {
        CStr directory;
        inf.GetDestinationDir(section.GetString(), &directory);
        inf.ProcessCopyFiles(section.GetString());
        inf.ProcessDelFiles(section.GetString());
        inf.ProcessRenFiles(section.GetString());
    }
}

} // namespace zolfuzz
