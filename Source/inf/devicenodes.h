// Probes for the root-enumerated device node of a service, and its removal.
#pragma once

#include <windows.h>

// 1 when "Root\LEGACY_<NAME>\0000" exists (the node of a legacy driver).
int HasLegacyDeviceNode(const wchar_t* serviceName);
// 1 when "Root\<NAME>\0000" exists (the node of a virtual component).
int HasRootDeviceNode(const wchar_t* serviceName);

// Removes a device by instance ID with the class installer's remove request
// (DIF_REMOVE, through the INF platform table). A device that is not there
// is fine. ERROR_SUCCESS or the platform's error; *restart is set when the
// platform asks for a restart to finish.
DWORD RemoveDeviceNode(const wchar_t* instanceId, bool* restart);
