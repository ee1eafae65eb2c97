// Probes for the root-enumerated device node of a service.
#pragma once

// 1 when "Root\LEGACY_<NAME>\0000" exists (the node of a legacy driver).
int HasLegacyDeviceNode(const wchar_t* serviceName);
// 1 when "Root\<NAME>\0000" exists (the node of a virtual component).
int HasRootDeviceNode(const wchar_t* serviceName);
