// The readers driven by the hostile-input runs. Each target takes one input
// and exercises one reader with it; a target never judges the result, it only
// has to come back.
#pragma once

#include <string>
#include <vector>

namespace zolfuzz {

struct CTarget {
    const char* name;
    // Seed inputs for this reader.
    std::vector<std::string> (*seeds)();
    void (*run)(const std::string& input);
};

// The working directory targets write their files into.
void SetWorkDirectory(const std::wstring& dir);
const std::wstring& WorkDirectory();
bool WriteInput(const std::wstring& name, const std::string& bytes);

const std::vector<CTarget>& Targets();

} // namespace zolfuzz
