// A memory volume with injected faults for tests of the engines' I/O error paths.
#include "disk/Faulty_RW.h"

void CFaulty_RW::FailSector(u64 sector, u32 status)
{
    m_failing[sector] = status == kOk ? kErrTransfer : status;
}

void CFaulty_RW::ShortAtSector(u64 sector)
{
    m_short.insert(sector);
}

void CFaulty_RW::FailAfter(u64 transfers)
{
    m_budget = transfers;
}

void CFaulty_RW::Heal()
{
    m_failing.clear();
    m_short.clear();
    m_budget = ~0ull;
}

CFaulty_RW::Decision CFaulty_RW::Decide(u32 byteCount, u64 byteOffset)
{
    Decision d;
    if (m_budget == 0)
    {
        d.fault = Fault::Fail;
        d.status = kErrTransfer;
        return d;
    }
    const u64 s = SectorSize();
    const u64 first = byteOffset / s;
    // The last sector touched; an empty transfer touches none beyond its start.
    const u64 end = byteOffset + (byteCount ? byteCount - 1 : 0);
    const u64 last = end < byteOffset ? ~0ull / s : end / s;

    auto bad = m_failing.lower_bound(first);
    if (bad != m_failing.end() && bad->first <= last && byteCount != 0)
    {
        d.fault = Fault::Fail;
        d.status = bad->second;
        return d;
    }
    auto cut = m_short.lower_bound(first);
    if (cut != m_short.end() && *cut <= last && byteCount != 0)
    {
        const u64 stop = *cut * s;
        d.fault = Fault::Short;
        d.count = stop > byteOffset ? static_cast<u32>(stop - byteOffset) : 0;
    }
    if (m_budget != ~0ull)
        --m_budget;
    return d;
}

u32 CFaulty_RW::RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    *bytesDone = 0;
    Decision d = Decide(byteCount, byteOffset);
    if (d.fault == Fault::Fail)
    {
        ++m_faults;
        return d.status;
    }
    return CMem_RW::RawRead(buffer, d.fault == Fault::Short ? d.count : byteCount, bytesDone,
                            byteOffset);
}

u32 CFaulty_RW::RawWrite(const void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    *bytesDone = 0;
    Decision d = Decide(byteCount, byteOffset);
    if (d.fault == Fault::Fail)
    {
        ++m_faults;
        return d.status;
    }
    return CMem_RW::RawWrite(buffer, d.fault == Fault::Short ? d.count : byteCount, bytesDone,
                             byteOffset);
}
