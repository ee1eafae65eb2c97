// zolhost: the host program for installer components. It loads one component
// DLL in the package directory, asks it about its package, installs it and
// reports the answers. It initialises COM on its thread only when asked to
// (--sta, single-threaded, as a setup program with windows does): otherwise
// the component does that itself where it needs it.
#include <windows.h>

#include "hostoptions.h"
#include "hostoutput.h"
#include "hostsession.h"
#include "support/systemlibrary.h"

int wmain(int argc, wchar_t** argv)
{
    // Before anything else is loaded: libraries are taken from the system
    // folder only, never from the folder zolhost or the package lies in.
    SearchOnlySystemFolderByDefault();
    // The system libraries installers use that are not known DLLs are loaded
    // now, from the system folder, and kept: an import of one of these names
    // that is searched for in the component's folder (by a library the
    // component brings in) then finds the loaded copy instead.
    for (const wchar_t* name : {L"version.dll", L"newdev.dll"})
        LoadSystemLibrary(name);
    CHostOutput output;
    CHostOptions options;
    switch (options.Parse(argc, argv)) {
    case CHostOptions::PARSE_HELP:
        output.Write(CHostOptions::HelpText());
        return HOST_EXIT_SUCCESS;
    case CHostOptions::PARSE_USAGE:
        output.WriteError(L"zolhost: " + options.Error() + L"\r\n" + CHostOptions::UsageLine() +
                          L"Try \"zolhost --help\" for more.\r\n");
        return HOST_EXIT_BAD_ARGUMENTS;
    case CHostOptions::PARSE_RUN:
        break;
    }
    CHostSession session(options, output);
    return session.Run();
}
