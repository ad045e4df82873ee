#pragma once
// The program's pseudo-random numbers: 15-bit values (0 to 32767) from the classic
// C-runtime generator, seeded from the clock at start-up. Tests seed it or swap it.
#include <cstdint>

class IRandom
{
public:
    virtual ~IRandom() = default;
    virtual int Next() = 0; // 0 .. 32767
};

class CRandom : public IRandom
{
public:
    explicit CRandom(uint32_t seed = 1) : m_state(seed) {}
    void Seed(uint32_t seed) { m_state = seed; }
    int Next() override
    {
        m_state = m_state * 214013u + 2531011u;
        return static_cast<int>((m_state >> 16) & 0x7FFF);
    }

private:
    uint32_t m_state;
};
