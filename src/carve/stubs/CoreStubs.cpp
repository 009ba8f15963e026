// Placeholders until the header and gap searches land.
#include "carve/GapSearch.h"
#include "carve/HeaderSearch.h"

CarveType MatchHeader(std::span<const u8>)
{
    return CarveType::kNone;
}
bool IsTextCluster(std::span<const u8>)
{
    return false;
}
u64 CarveCap(CarveType)
{
    return 0;
}
CarveScan::CarveScan(u64 origin, u64 firstCluster, u64 endCluster, u64 clusterBytes)
    : m_origin(origin), m_firstCluster(firstCluster), m_endCluster(endCluster),
      m_clusterBytes(clusterBytes)
{
}
void CarveScan::Scan(u64, std::span<const u8>)
{
}
LayoutSource::LayoutSource(ICarveSpace& space, std::span<const CarveRun> runs, u64 size)
    : m_space(space), m_runs(runs), m_size(size)
{
}
std::size_t LayoutSource::Read(u64, std::span<u8>)
{
    return 0;
}
CarveLayout LayOutCarved(CarveType, u64, ICarveSpace&, const GapLimits&, u64)
{
    return {};
}
