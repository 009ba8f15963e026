// The catalogue: the run flag, the adding of finds through their engine, the reset, and the
// result view's operations as the catalogue names them.
#include "catalog/Catalog.h"

#include <utility>

#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"

// On a cache line of its own: every worker reads it for each record, and a neighbour written as
// often (the memory pool's lock) made that line travel between the cores at each read.
alignas(64) std::atomic<u32> g_bRunning{0};
std::vector<SelEntry> g_Selection;

CCatalog::CCatalog() = default;

CCatalog::~CCatalog()
{
    // Workers poll the run flag; once it is clear they end at their next test.
    g_bRunning = 0;
    if (m_searchThread.joinable())
        m_searchThread.join();
    if (m_recoverThread.joinable())
        m_recoverThread.join();
    ResetVolumes();
}

void CCatalog::Post(u32 message, u32 code, const std::string& text, u32 extra) const
{
    if (m_sink != nullptr)
        m_sink->Post(message, code, text, extra);
}

int CCatalog::CompareTime(const FoundTime& a, const FoundTime& b)
{
    const s32 left[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const s32 right[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    for (int i = 0; i < 6; ++i)
    {
        if (left[i] > right[i])
            return 1;
        if (left[i] < right[i])
            return -1;
    }
    return 0;
}

void CCatalog::AddItem(FoundItem item, VolumeEntry& volume)
{
    // The file system's rule decides (a folder met again under another name is one find).
    if (volume.engine != nullptr)
        volume.engine->AddFind(volume, std::move(item));
    else
        volume.items.push_back(std::move(item));
}

void CCatalog::ResetVolumes()
{
    for (std::size_t i = m_volumes.size(); i-- > 0;)
    {
        VolumeEntry& volume = m_volumes[i];
        if (volume.engine != nullptr)
            volume.engine->ReleaseItems(volume);
        volume.items.clear();
        volume.recycledFrom.clear();
        volume.carved = CarvedFiles{};
        volume.lookup.Clear();
        volume.state.reset();
        volume.reader.reset();
        volume.name.clear();
        volume.fsType = kFsNone;
        volume.engine = nullptr;
    }
    m_volumes.clear();
    m_fileCount = 0;
}

// The result view's operations, on the job list.

void CCatalog::InitFileTypes()
{
    m_view.InitFileTypes();
}

void CCatalog::ShowFolder(const VolumeEntry& volume, std::vector<ResultRow>* rows)
{
    m_view.ShowFolder(m_volumes, volume, rows);
}

void CCatalog::AddLevelRows(const VolumeEntry& volume, std::vector<ResultRow>* rows)
{
    m_view.AddLevelRows(volume, rows);
}

bool CCatalog::Navigate(const std::string& text, std::vector<ResultRow>* rows)
{
    return m_view.Navigate(m_volumes, text, rows);
}

void CCatalog::GetFileType(std::string& extension, s32* image)
{
    m_view.GetFileType(extension, image);
}

std::string CCatalog::FormatTime(const FoundTime& time)
{
    return m_view.FormatTime(time);
}
