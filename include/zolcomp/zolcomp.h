/*
 * zolcomp.h: what a setup program (the host) needs to load and drive a
 * zolcomp installer component. Valid C (C99 and later) and C++.
 *
 * A host loads the component DLL from the package folder and makes that
 * folder its current directory first: the component reads its package
 * definition and copies the package files from the current directory while
 * it is being loaded. The host then calls, one call at a time on one thread:
 *
 *   GetInterfaceVersion          writes ZOL_INTERFACE_VERSION, returns 1
 *   GetProperty, any number      properties 1 to 8 (and 9 to 11, below)
 *   Install, normally once       returns ZOL_INSTALL_FAILED, _SUCCESS or _RESTART
 *
 * and unloads the DLL. To take an installed package off again, a host calls
 * Uninstall instead of Install (below). Every result is an int; no exception
 * crosses the interface. Strings are UTF-16 (wchar_t on Windows).
 */
#ifndef ZOLCOMP_ZOLCOMP_H
#define ZOLCOMP_ZOLCOMP_H

#include <windows.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Exports ---------------------------------------------------------- */

/* What GetInterfaceVersion writes. */
#define ZOL_INTERFACE_VERSION 100

/* Undecorated export names, for GetProcAddress. */
#define ZOL_EXPORT_GETINTERFACEVERSION "GetInterfaceVersion"
#define ZOL_EXPORT_GETPROPERTY "GetProperty"
#define ZOL_EXPORT_INSTALL "Install"

/* Writes ZOL_INTERFACE_VERSION to *version and returns 1. */
int WINAPI GetInterfaceVersion(int* version);

/* Answers property `type` (ZOL_PROP_*) into `out`; `capacity` and `extra`
   as the property's description below says. Returns 1 when `out` holds the
   answer, 0 otherwise (an unknown type returns 0 and writes nothing). */
int WINAPI GetProperty(int type, void* out, int capacity, void* extra);

/* Installs the package. `a`, `b` and `d` are handed to the install path
   unchanged and not interpreted (pass 0, NULL, 0). On failure a message in
   the host's language is written to `message`, which must hold
   ZOL_MESSAGE_CHARS characters and should start empty. `language` is a
   ZOL_LANG_* code. Returns a ZOL_INSTALL_* result. */
int WINAPI Install(int a, void* b, wchar_t* message, int d, const wchar_t* language);

typedef int(WINAPI* PFN_ZOL_GETINTERFACEVERSION)(int* version);
typedef int(WINAPI* PFN_ZOL_GETPROPERTY)(int type, void* out, int capacity, void* extra);
typedef int(WINAPI* PFN_ZOL_INSTALL)(int a, void* b, wchar_t* message, int d, const wchar_t* language);

/* ---- Uninstall -------------------------------------------------------- */

/* Components that can take their package off again export Uninstall as well.
   A host finds out with GetProcAddress(module, ZOL_EXPORT_UNINSTALL): NULL
   means the component cannot (GetInterfaceVersion still writes 100 either
   way). Hosts that do not know it are unaffected.

   Uninstall takes the arguments and returns the results of Install: `a`
   holds ZOL_UNINSTALL_* flags, `b` and `d` are not interpreted (pass NULL,
   0), `message` receives a message in the host's language on failure and
   must hold ZOL_MESSAGE_CHARS characters, `language` is a ZOL_LANG_* code.
   It holds the install lock (below) for its whole run, as Install does.
   What it would do is asked first, without changing anything, through
   ZOL_PROP_UNINSTALL_PLAN; what it did, afterwards, through
   ZOL_PROP_DEVICE_RESULTS.

   Each device that uses the package's driver goes back to the driver it had
   before the package was installed, or else to the next-best driver the
   platform offers; a device for which no driver would be left makes
   Uninstall refuse before it changes anything, unless ZOL_UNINSTALL_FORCE is
   given. A package that was never installed (ZOL_PACKAGE_NOT_INSTALLED)
   gives ZOL_INSTALL_FAILED with a message that says so. A run that stops
   part-way leaves the package ZOL_PACKAGE_PARTIAL: calling Uninstall again
   finishes the job. */
#define ZOL_EXPORT_UNINSTALL "Uninstall"
int WINAPI Uninstall(int a, void* b, wchar_t* message, int d, const wchar_t* language);
typedef int(WINAPI* PFN_ZOL_UNINSTALL)(int a, void* b, wchar_t* message, int d, const wchar_t* language);

/* Uninstall's `a`: a device may be left without a driver. */
#define ZOL_UNINSTALL_FORCE 0x1

/* ---- Properties (GetProperty's type) ---------------------------------- */

/* Text properties: `out` is a wchar_t buffer and `capacity` counts its
   characters. The text is written only when it is strictly shorter than the
   capacity (it is never cut); otherwise the result is 0. ZOL_TEXT_CHARS is
   always enough for the component's texts. `extra` is the language code
   (const wchar_t*, ZOL_LANG_*) for ZOL_PROP_NAME and ZOL_PROP_DESCRIPTION,
   ignored by the others. */
#define ZOL_PROP_NAME 1              /* package name, in the host's language */
#define ZOL_PROP_DESCRIPTION 2       /* package description, in the host's language */
#define ZOL_PROP_INSTALLED_VERSION 3 /* version of the installed key file */
#define ZOL_PROP_PACKAGE_VERSION 4   /* version of this package */

/* `out` is a PREREQSTATUS, `capacity` its size in bytes (at least
   ZOL_PREREQSTATUS_BYTES, else the result is 0 and nothing is written),
   `extra` the language code for the message. */
#define ZOL_PROP_PREREQUISITES 5

/* Number properties: `out` is an int; `capacity` and `extra` are ignored;
   the result is always 1. */
#define ZOL_PROP_SILENT_CAPABLE 6  /* 1 when the package installs silently */
#define ZOL_PROP_SILENT_CAPABLE2 7 /* the same answer as property 6 */
#define ZOL_PROP_FLAG8 8           /* always 1 */

/* Hands the component the host's own log object (`out`), which must have
   the component log's class layout; the component then writes its verbose
   lines there. `capacity` and `extra` are ignored; the result is 1. A host
   without such an object never asks this property. */
#define ZOL_PROP_HOST_LOG 9

/* Per-device results. `out` is a ZOL_DEVICE_RESULTS block (below) of
   `capacity` bytes whose cbRecord the host has set to
   sizeof(ZOL_DEVICE_RESULT); `extra` is ignored and never written (a host
   may pass its language code to every property). The component writes the
   number of records to nCount whenever the block holds the header
   (ZOL_DEVICE_RESULTS_BYTES(0) bytes) and the cbRecord is right; when the
   block also holds every record they are written and the result is 1,
   otherwise the result is 0: ask again with ZOL_DEVICE_RESULTS_BYTES(nCount)
   bytes. A smaller block or another cbRecord gives 0 and writes nothing.
   Before Install or Uninstall the records are the supported devices present
   with the driver each has now (ZOL_DEVICE_PRESENT): what an install would
   update. After Install they are the devices the install acted on, with the
   outcome for each; after Uninstall, the devices the uninstall acted on,
   with the action taken (nAction) and its outcome. */
#define ZOL_PROP_DEVICE_RESULTS 10

/* What Uninstall would do, changing nothing: a ZOL_DEVICE_RESULTS block as
   for ZOL_PROP_DEVICE_RESULTS, with nPackageState (ZOL_PACKAGE_*) set and
   one record per device Uninstall would act on, each with nOutcome
   ZOL_DEVICE_PLANNED and the planned action in nAction (a LEGACY or
   VIRTUAL package's root devices with ZOL_ACTION_REMOVE_DEVICE). */
#define ZOL_PROP_UNINSTALL_PLAN 11

/* ---- Sizes ------------------------------------------------------------ */

#define ZOL_MESSAGE_CHARS 1024 /* PREREQSTATUS.szMessage; Install's message buffer */
#define ZOL_TEXT_CHARS 1024    /* a buffer for the text properties 1 to 4 */
#define ZOL_PREREQSTATUS_BYTES 2052

/* ---- The prerequisite status (property 5) ----------------------------- */

/* Written by property 5 into the host's memory. */
typedef struct PREREQSTATUS {
    int nStatus;                          /* a STATUS_* code */
    wchar_t szMessage[ZOL_MESSAGE_CHARS]; /* why, for STATUS_CANNOT_INSTALL and a failed
                                             dependency check; empty otherwise */
} PREREQSTATUS;

/* The layout is fixed: checked at compile time in C++, C11 and C99 alike. */
#if defined(__cplusplus)
#define ZOL_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZOL_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define ZOL_STATIC_ASSERT(cond, name) typedef char name[(cond) ? 1 : -1]
#endif
ZOL_STATIC_ASSERT(sizeof(PREREQSTATUS) == ZOL_PREREQSTATUS_BYTES, zol_prereqstatus_is_2052_bytes);
ZOL_STATIC_ASSERT(offsetof(PREREQSTATUS, nStatus) == 0, zol_prereqstatus_status_at_0);
ZOL_STATIC_ASSERT(offsetof(PREREQSTATUS, szMessage) == 4, zol_prereqstatus_message_at_4);
#undef ZOL_STATIC_ASSERT

/* PREREQSTATUS.nStatus. "Hardware" is the package's supported hardware. */
enum PrereqStatusCode {
    STATUS_INSTALLED_SAME = 1,        /* hardware present, same version installed */
    STATUS_INSTALLED_OLDER = 2,       /* hardware present, an older version installed */
    STATUS_INSTALLED_NEWER = 3,       /* hardware present, a newer version installed */
    STATUS_INSTALLED_NO_HARDWARE = 4, /* installed, no hardware present */
    STATUS_NOT_INSTALLED = 5,         /* hardware present, not installed: a new installation */
    STATUS_NOT_APPLICABLE = 6,        /* no hardware and not installed, or the model check failed */
    STATUS_CANNOT_INSTALL = 7,        /* refused; szMessage says why */
    STATUS_UNDETERMINED = 8
};

/* ---- Per-device results (property 10) -------------------------------- */

#define ZOL_DEVICE_ID_CHARS 200      /* a device instance ID with its terminator */
#define ZOL_HARDWARE_ID_CHARS 256    /* a hardware ID with its terminator */
#define ZOL_DEVICE_TEXT_CHARS 260    /* service, INF and driver version texts */

/* ZOL_DEVICE_RESULT.nOutcome */
enum ZolDeviceOutcome {
    ZOL_DEVICE_PRESENT = 0,       /* before Install: an install would update this device */
    ZOL_DEVICE_UPDATED = 1,       /* the driver update (for Uninstall: the action) succeeded */
    ZOL_DEVICE_FAILED = 2,        /* the driver update or action failed: dwError is the platform's code */
    ZOL_DEVICE_NOT_ATTEMPTED = 3, /* no update or action was started: nReason says why */
    ZOL_DEVICE_PLANNED = 4,       /* ZOL_PROP_UNINSTALL_PLAN: Uninstall would take nAction */
    ZOL_DEVICE_REMOVED = 5        /* Uninstall removed the device (ZOL_ACTION_REMOVE_DEVICE) */
};

/* ZOL_DEVICE_RESULT.nAction: what Uninstall does to a device (0 for Install) */
enum ZolDeviceAction {
    ZOL_ACTION_NONE = 0,
    ZOL_ACTION_RESTORE_PREVIOUS = 1, /* back to the driver it had before the package */
    ZOL_ACTION_NEXT_BEST = 2,        /* the next-best driver the platform offers */
    ZOL_ACTION_NO_DRIVER = 3,        /* left without a driver (only with ZOL_UNINSTALL_FORCE) */
    ZOL_ACTION_REMOVE_DEVICE = 4     /* a root device the package created: removed */
};

/* ZOL_DEVICE_RESULT.nReason, for ZOL_DEVICE_NOT_ATTEMPTED (0 otherwise) */
enum ZolDeviceReason {
    ZOL_REASON_NONE = 0,
    ZOL_REASON_PACKAGE_REFUSED = 1,     /* the package lacks a file the update needs */
    ZOL_REASON_LIBRARY_MISSING = 2,     /* the device installation library did not load */
    ZOL_REASON_FUNCTION_MISSING = 3,    /* the library lacks the driver update function */
    ZOL_REASON_INSTALL_IN_PROGRESS = 4, /* the install lock could not be taken */
    ZOL_REASON_STAGING_UNSAFE = 5,      /* the staging folder could not be made administrators' only */
    ZOL_REASON_NO_DRIVER_LEFT = 6,      /* Uninstall: no driver would be left and force was not given */
    ZOL_REASON_NOT_REACHED = 7,         /* Uninstall: stopped by an earlier failure before this device */
    ZOL_REASON_NOT_RECORDED = 8         /* the install record could not be written first */
};

/* One device. Texts are empty when unknown; the driver fields (service, INF,
   version) describe the driver the device has when the property is asked.
   The target fields describe the driver Uninstall's action moves the device
   to (planned or taken): its INF as the system's INF folder holds it (or, for
   one of this component's packages, its INF file name) and its version (the
   package version for one of this component's packages, else the driver's
   version); both empty for ZOL_ACTION_NO_DRIVER and ZOL_ACTION_REMOVE_DEVICE. */
typedef struct ZOL_DEVICE_RESULT {
    int nOutcome;                                    /* ZOL_DEVICE_* */
    int nReason;                                     /* ZOL_REASON_* */
    DWORD dwError;                                   /* ZOL_DEVICE_FAILED: the platform's code */
    int bRestart;                                    /* 1: this device needs a restart */
    wchar_t szInstanceId[ZOL_DEVICE_ID_CHARS];       /* device instance ID */
    wchar_t szHardwareId[ZOL_HARDWARE_ID_CHARS];     /* the supported hardware ID it matched */
    wchar_t szService[ZOL_DEVICE_TEXT_CHARS];        /* the driver's service name */
    wchar_t szInf[ZOL_DEVICE_TEXT_CHARS];            /* the driver's INF file name */
    wchar_t szDriverVersion[ZOL_DEVICE_TEXT_CHARS];  /* the driver's version, e.g. "9.3.0.1019" */
    int nAction;                                     /* ZOL_ACTION_* */
    wchar_t szTargetInf[ZOL_DEVICE_TEXT_CHARS];      /* the action's driver INF */
    wchar_t szTargetVersion[ZOL_DEVICE_TEXT_CHARS];  /* the action's driver version, e.g. "1.2.3.0" */
} ZOL_DEVICE_RESULT;

/* ZOL_DEVICE_RESULTS.nPackageState (ZOL_PROP_UNINSTALL_PLAN; 0 otherwise) */
enum ZolPackageState {
    ZOL_PACKAGE_NOT_INSTALLED = 0, /* no record of this package: Uninstall fails, changing nothing */
    ZOL_PACKAGE_INSTALLED = 1,     /* installed */
    ZOL_PACKAGE_INSTALLING = 2,    /* an install did not finish: Uninstall takes off what it did */
    ZOL_PACKAGE_PARTIAL = 3,       /* an uninstall stopped part-way: Uninstall finishes it */
    ZOL_PACKAGE_SUPERSEDED = 4     /* a later version replaced it: uninstall that one first */
};

/* Properties 10 and 11: a header, then nCount records. The host sets
   cbRecord; the component writes nCount and nPackageState. */
typedef struct ZOL_DEVICE_RESULTS {
    DWORD cbRecord;                /* in: sizeof(ZOL_DEVICE_RESULT) */
    int nCount;                    /* out: how many records there are */
    int nPackageState;             /* out: ZOL_PACKAGE_* (property 11) */
    int nReserved;                 /* 0 */
    ZOL_DEVICE_RESULT Devices[1];  /* nCount records */
} ZOL_DEVICE_RESULTS;

/* The bytes a block of n records takes. */
#define ZOL_DEVICE_RESULTS_BYTES(n) \
    (offsetof(ZOL_DEVICE_RESULTS, Devices) + (size_t)(n) * sizeof(ZOL_DEVICE_RESULT))

/* ---- One installation at a time --------------------------------------- */

/* A machine-wide lock file, ZOL_INSTALL_LOCK_PATH on the drive of the system
   folder (C:\DEVAVOROR\zolcomp-install.lock). Install (and Uninstall) holds
   it for its whole run and waits at most ZOL_INSTALL_WAIT_MS for it; when it cannot take it
   Install returns ZOL_INSTALL_FAILED with its "error during installation"
   message and logs why: "Another installation is in progress", or that a
   process that is not an administrator's holds the lock, or that the lock
   cannot be taken at all.

   The lock lives in the component's own folder, which it makes one only
   SYSTEM and Administrators can change (an existing folder that is a link,
   another account's, or open to others is moved aside first), so that no
   other account can create the file first or hold it. (A private object
   namespace bounded by the Administrators group would do the same for a
   named mutex, but cannot be created under Wine, where the component is
   tested: CreateBoundaryDescriptorW returns NULL and
   AddSIDToBoundaryDescriptor ends the process.)

   Holding the lock means having the file open with CreateFileW(path,
   GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, ..., OPEN_ALWAYS, ...): no
   one else can then open it for writing, rename or delete it, and the system
   lets it go when the holder closes the handle or ends. A holder that is not
   an administrator's (a file at the name that another account owns) is not
   waited for. The first ZOL_INSTALL_OWNER_BYTES bytes of the file name the
   holder: its process ID, then its thread ID (32 bits each), 0 when unknown.
   A holder writes them once it holds the lock and writes zeros before it
   lets go; a reader opens the file with GENERIC_READ and all three sharing
   flags. A host may take the lock itself before calling Install, on the
   thread that calls Install: the component sees its own process and thread
   in the record and goes on at once.

   Components before this lock file used a named mutex instead
   ("Global\\ZolcompInstallInProgress"), which any account could create
   first; the two do not exclude each other. */
#define ZOL_INSTALL_LOCK_PATH L"\\DEVAVOROR\\zolcomp-install.lock"
#define ZOL_INSTALL_OWNER_BYTES 8
#define ZOL_INSTALL_WAIT_MS 60000
/* The platform's exit code for "another installation is in progress"
   (ERROR_INSTALL_ALREADY_RUNNING); deployment tools retry it. */
#define ZOL_EXIT_INSTALL_IN_PROGRESS 1618
/* The platform's exit code for "this product is not installed"
   (ERROR_UNKNOWN_PRODUCT), for an Uninstall of a package that is not. */
#define ZOL_EXIT_NOT_INSTALLED 1605

/* ---- Install results -------------------------------------------------- */

#define ZOL_INSTALL_FAILED 0  /* message written */
#define ZOL_INSTALL_SUCCESS 1
#define ZOL_INSTALL_RESTART 2 /* success; restart the system to complete */

/* ---- Language codes (GetProperty's extra, Install's language) --------- */

/* Compared ignoring case; any other code (a region suffix included) means
   English. Install's messages are Japanese for "ja", English otherwise. */
#define ZOL_LANG_ENGLISH L"en"
#define ZOL_LANG_FRENCH L"fr"
#define ZOL_LANG_ITALIAN L"it"
#define ZOL_LANG_GERMAN L"de"
#define ZOL_LANG_SPANISH L"es"
#define ZOL_LANG_JAPANESE L"ja"

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZOLCOMP_ZOLCOMP_H */
