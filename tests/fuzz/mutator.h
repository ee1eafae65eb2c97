// A small, deterministic mutation engine for the readers' hostile-input runs.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

namespace zolfuzz {

class CRandom
{
public:
    explicit CRandom(uint64_t seed) : m_state(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t Next()
    {
        // xorshift64*
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ull;
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
    bool Chance(unsigned percent) { return Below(100) < percent; }

private:
    uint64_t m_state;
};

// Applies one to several random mutations to a copy of seed; other seeds
// serve as splice material.
std::string Mutate(const std::string& seed, const std::vector<std::string>& corpus, CRandom& random);

} // namespace zolfuzz
