// A memory volume with injected faults: chosen sectors fail to transfer or cut transfers
// short, for tests of how the engines handle an unreadable or truncated device.
#pragma once

#include <map>
#include <set>

#include "disk/Mem_RW.h"

class CFaulty_RW : public CMem_RW
{
public:
    using CMem_RW::CMem_RW;

    // Any transfer touching this sector fails with status (kErrTransfer, or kErrSeek to
    // imitate a positioning failure) and delivers nothing.
    void FailSector(u64 sector, u32 status = kErrTransfer);
    // Any transfer reaching this sector succeeds short: it delivers only the bytes before it,
    // as a device that ends there would.
    void ShortAtSector(u64 sector);
    // After this many further successful transfers, every transfer fails with kErrTransfer.
    void FailAfter(u64 transfers);
    // Removes every fault.
    void Heal();

    // Transfers refused so far.
    [[nodiscard]] u64 FaultCount() const { return m_faults; }

protected:
    [[nodiscard]] u32 RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset) override;
    [[nodiscard]] u32 RawWrite(const void* buffer, u32 byteCount, u32* bytesDone,
                               u64 byteOffset) override;

private:
    enum class Fault
    {
        None,
        Short,
        Fail
    };
    struct Decision
    {
        Fault fault = Fault::None;
        u32 status = kOk;
        u32 count = 0; // bytes to transfer when short
    };
    [[nodiscard]] Decision Decide(u32 byteCount, u64 byteOffset);

    std::map<u64, u32> m_failing; // sector -> status
    std::set<u64> m_short;        // sectors that end transfers
    u64 m_budget = ~0ull;         // transfers left before all fail
    u64 m_faults = 0;
};
