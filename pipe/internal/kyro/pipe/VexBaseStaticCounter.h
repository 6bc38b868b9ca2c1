// VexBaseStaticCounter: a named pair of process-wide counts that should end up equal.
// When the counter is destroyed (for the two process-wide instances: when the library is
// unloaded) and the second count differs from the first, it writes to standard error:
//
//   !!!!! -----------
//   !!!!! Counter Discrepancy detected at shutdown in <name>: <second - first>
//   !!!!! ---------
//
// followed by an empty line. The difference is taken in 32 bits and printed signed.
// The library itself never changes the counts of its two instances.
//
// The counts are atomic so that the check at unload reads them without waiting for any
// lock: under the loader lock a wait could deadlock the host's exit.
#ifndef KYRO_PIPE_VEXBASESTATICCOUNTER_H
#define KYRO_PIPE_VEXBASESTATICCOUNTER_H

#include "kyro/pipe/VexBase.h"

#include <atomic>
#include <cstdint>

class VexBaseStaticCounter : public VexBase {
public:
    // `name` must live as long as the counter (a literal, as a rule).
    constexpr explicit VexBaseStaticCounter(const char* name)
        : m_first(0), m_second(0), m_name(name) {}
    VexBaseStaticCounter(const VexBaseStaticCounter&) = delete;
    VexBaseStaticCounter& operator=(const VexBaseStaticCounter&) = delete;
    ~VexBaseStaticCounter() override;

    const char* name() const { return m_name; }
    std::uint32_t first() const { return m_first.load(kRelaxed); }
    std::uint32_t second() const { return m_second.load(kRelaxed); }
    void addToFirst(std::uint32_t amount) { m_first.fetch_add(amount, kRelaxed); }
    void addToSecond(std::uint32_t amount) { m_second.fetch_add(amount, kRelaxed); }
    // second - first, in 32 bits, signed.
    std::int32_t discrepancy() const;

    // The two process-wide instances, "VexBase Allocated Bytes" and
    // "VexBase Allocated Instances". They live from library load to unload.
    static VexBaseStaticCounter& allocatedBytes();
    static VexBaseStaticCounter& allocatedInstances();

private:
    // Statistics only: nothing is ordered by them.
    static constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

    std::atomic<std::uint32_t> m_first;
    std::atomic<std::uint32_t> m_second;
    const char* m_name;
};

#endif
