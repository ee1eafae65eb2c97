// The INF reader's target: pending until the INF engine lands.
#include "targets.h"

namespace zolfuzz {

std::vector<std::string> InfSeeds() { return {"[Version]\r\nSignature=\"$Windows NT$\"\r\n"}; }
void RunInf(const std::string&) {}

} // namespace zolfuzz
