// The recycled finds of a volume moved under the made-up Recycle Bin folder, named as they
// were before they were recycled.
#include "scan/RecycleBin.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "catalog/Catalog.h"
#include "catalog/FindStream.h"
#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "platform/Status.h"
#include "scan/RecycleRecords.h"

namespace
{
constexpr u8 kAttrFolder = 0x10;
// A $I record: its header and the longest path a version 2 record may claim.
constexpr u64 kMostIndexBytes =
    RecycleIndexLayout::kPathV2 + 2 * (RecycleIndexLayout::kMostPathUnits + 1);
// An INFO2 file of 800-byte records: some 20,000 recycled files.
constexpr u64 kMostInfo2Bytes = u64{16} << 20;
// Reads of a find's data in pieces of at most this many bytes.
constexpr u64 kReadPiece = u64{1} << 20;

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

std::string Lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string FullPath(const FoundItem& item)
{
    std::string path = item.path + "\\";
    path += item.name.view();
    return path;
}

// One find to move: the levels below the made-up folder, its own name last, and when it was
// recycled.
struct Move
{
    std::size_t item = 0;
    std::vector<std::string> levels;
    u64 deletedAt = 0;
};

// The record files of one folder and the data files they may name.
struct FolderFinds
{
    std::unordered_map<std::string, std::size_t> indexBySuffix; // $I files, suffix lowered
    std::vector<std::pair<std::size_t, std::string>> data;      // $R finds and their suffix
    std::vector<std::size_t> info2;                             // INFO2 files
    std::vector<std::pair<std::size_t, u32>> dc;                // Dc<n> finds and their n
};

// The recycle-bin finds of the volume, by the folder that holds them.
std::unordered_map<std::string, FolderFinds> GroupByFolder(const VolumeEntry& volume)
{
    std::unordered_map<std::string, FolderFinds> folders;
    for (std::size_t i = 0; i < volume.items.size(); ++i)
    {
        const FoundItem& item = volume.items[i];
        std::string_view suffix;
        u32 number = 0;
        const RecycleName kind = ClassifyRecycleName(item.name.view(), &suffix, &number);
        if (kind == RecycleName::kOther)
            continue;
        const bool folder = (item.attr & kAttrFolder) != 0;
        FolderFinds& finds = folders[item.path.str()];
        if (kind == RecycleName::kIndex && !folder)
            finds.indexBySuffix.try_emplace(Lowered(suffix), i);
        else if (kind == RecycleName::kData)
            finds.data.emplace_back(i, Lowered(suffix));
        else if (kind == RecycleName::kInfo2 && !folder)
            finds.info2.push_back(i);
        else if (kind == RecycleName::kDc)
            finds.dc.emplace_back(i, number);
    }
    return folders;
}

// The moves the records of one folder give.
void FolderMoves(VolumeEntry& volume, const FolderFinds& finds, std::vector<Move>* moves)
{
    std::vector<u8> bytes;
    for (const auto& [item, suffix] : finds.data)
    {
        auto index = finds.indexBySuffix.find(suffix);
        RecycledOrigin origin;
        Move move{item, {}, 0};
        if (index != finds.indexBySuffix.end() &&
            ReadFindBytes(volume, volume.items[index->second], kMostIndexBytes, &bytes) &&
            ParseRecycleIndex(bytes, &origin) && RecycledLevels(origin.path, &move.levels))
        {
            move.deletedAt = origin.deletedAt;
            moves->push_back(std::move(move));
        }
    }
    if (finds.dc.empty())
        return;
    // The first record of each number counts; the INFO2 files in the order found.
    std::unordered_map<u32, RecycledOrigin> originOf;
    for (std::size_t info2 : finds.info2)
        if (ReadFindBytes(volume, volume.items[info2], kMostInfo2Bytes, &bytes))
            for (RecycledOrigin& origin : ParseInfo2(bytes))
                originOf.try_emplace(origin.index, std::move(origin));
    for (const auto& [item, number] : finds.dc)
    {
        auto origin = originOf.find(number);
        Move move{item, {}, 0};
        if (origin != originOf.end() && RecycledLevels(origin->second.path, &move.levels))
        {
            move.deletedAt = origin->second.deletedAt;
            moves->push_back(std::move(move));
        }
    }
}

// name, or name with "_N_" before its last '.' (appended without one), the first such text
// that no other item of folder has; taken holds the full paths in use.
std::string UniqueName(const std::string& folder, const std::string& name,
                       std::unordered_set<std::string>* taken)
{
    const std::size_t dot = name.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
    std::string path = folder;
    path += '\\';
    const std::size_t at = path.size();
    path += name;
    // Every other item holds one path at most, so the count ends the search.
    for (std::size_t n = 1; !taken->insert(path).second && n <= taken->size(); ++n)
    {
        path.resize(at);
        path.append(name, 0, cut);
        path += '_';
        path += std::to_string(n);
        path += '_';
        path.append(name, cut);
    }
    return path.substr(at);
}

// Drops the moves of finds that lie below a recycled folder that moves itself: they move with
// it.
void DropNested(const VolumeEntry& volume, std::vector<Move>* moves)
{
    std::unordered_set<std::string> movedFolders;
    for (const Move& move : *moves)
    {
        const FoundItem& item = volume.items[move.item];
        if (item.attr & kAttrFolder)
            movedFolders.insert(FullPath(item));
    }
    std::erase_if(*moves,
                  [&](const Move& move)
                  {
                      std::string_view path = volume.items[move.item].path.view();
                      // Each step cuts the path at a backslash further left.
                      for (;;)
                      {
                          if (movedFolders.contains(std::string(path)))
                              return true;
                          const std::size_t cut = path.rfind('\\');
                          if (cut == std::string_view::npos)
                              return false;
                          path = path.substr(0, cut);
                      }
                  });
}
} // namespace

bool ReadFindBytes(VolumeEntry& volume, const FoundItem& item, u64 most, std::vector<u8>* bytes)
{
    bytes->clear();
    const IVolumeEngine* engine = volume.engine;
    if (engine == nullptr || item.size > most || (item.attr & kAttrFolder) != 0)
        return false;
    DataStream stream;
    if (DescribeFind(volume, item, &stream) != kOk || stream.compressionUnit != 0 ||
        stream.encrypted)
        return false;
    if (stream.resident)
    {
        if (stream.residentBytes.size() < item.size)
            return false;
        bytes->assign(stream.residentBytes.begin(),
                      stream.residentBytes.begin() + static_cast<std::ptrdiff_t>(item.size));
        return true;
    }
    if (stream.ReadableBytes() < item.size || stream.clusterBytes == 0)
        return false;
    CDirectRW* reader = engine->DataReader(volume);
    if (reader == nullptr)
        return false;
    bytes->assign(item.size, 0);
    const u64 written = std::min(item.size, stream.initializedSize);
    const u64 clusterBytes = stream.clusterBytes;
    for (const StreamExtent& extent : stream.extents)
    {
        // Holes read as zeros, and so do bytes past the initialised size.
        if (extent.hole || extent.vcn > written / clusterBytes)
            continue;
        const u64 start = extent.vcn * clusterBytes;
        if (start >= written)
            continue;
        const u64 room = written - start;
        const u64 count = extent.length > room / clusterBytes ? room : extent.length * clusterBytes;
        for (u64 done = 0; done < count;)
        {
            const u64 piece = std::min(count - done, kReadPiece);
            const u64 at = stream.ByteOf(extent.lcn) + done;
            if (at > static_cast<u64>(std::numeric_limits<s64>::max()))
                return false;
            u32 got = 0;
            if (reader->ReadBytes(bytes->data() + start + done, static_cast<u32>(piece), &got,
                                  static_cast<s64>(at)) != kOk ||
                got != piece)
                return false;
            done += piece;
        }
    }
    return true;
}

namespace
{
// The paths in use below the made-up folder bin: the items already there and the levels they
// lie in.
std::unordered_set<std::string> TakenBelow(const VolumeEntry& volume, const std::string& bin)
{
    const std::string binLevels = bin + "\\";
    std::unordered_set<std::string> taken;
    for (const FoundItem& item : volume.items)
    {
        if (item.path != bin && !item.path.starts_with(binLevels))
            continue;
        for (std::size_t cut = item.path.find('\\', binLevels.size()); cut != std::string::npos;
             cut = item.path.find('\\', cut + 1))
            taken.insert(item.path.substr(0, cut));
        taken.insert(item.path.str());
        taken.insert(FullPath(item));
    }
    return taken;
}

// Gives each moved find its folder and name below the made-up folder, and records in *moved
// and *from which items moved and where they were. The recycled folders are placed first and
// hand their new path down to everything below them; the files recycled on their own come
// last, so that none of them takes the name of a file below a recycled folder.
void PlaceMoves(VolumeEntry& volume, const std::vector<Move>& moves, std::vector<bool>* moved,
                std::unordered_map<std::size_t, std::string>* from)
{
    const std::string bin = volume.name + "\\" + kRecycleBinFolder;
    std::unordered_set<std::string> taken = TakenBelow(volume, bin);
    std::vector<std::pair<std::string, std::string>> subtrees; // old full path, new full path
    const auto place = [&](const Move& move)
    {
        FoundItem& item = volume.items[move.item];
        std::string folder = bin;
        for (std::size_t i = 0; i + 1 < move.levels.size(); ++i)
            folder += "\\" + move.levels[i];
        const std::string name = UniqueName(folder, move.levels.back(), &taken);
        std::string old = FullPath(item);
        if (item.attr & kAttrFolder)
            subtrees.emplace_back(old, folder + "\\" + name);
        from->emplace(move.item, std::move(old));
        (*moved)[move.item] = true;
        item.path = folder;
        item.name = name;
    };
    for (const Move& move : moves)
        if (volume.items[move.item].attr & kAttrFolder)
            place(move);
    for (std::size_t i = 0; i < volume.items.size() && !subtrees.empty(); ++i)
    {
        FoundItem& item = volume.items[i];
        for (const auto& [old, now] : subtrees)
        {
            if (!item.path.starts_with(old) ||
                (item.path.size() != old.size() && item.path[old.size()] != '\\'))
                continue;
            from->emplace(i, FullPath(item));
            item.path = now + item.path.substr(old.size());
            (*moved)[i] = true;
            // Two folders recycled from one place share it: a file of the second with a name
            // the first has is numbered.
            if (item.attr & kAttrFolder)
                taken.insert(FullPath(item));
            else
                item.name = UniqueName(item.path.str(), item.name.str(), &taken);
            break;
        }
    }
    for (const Move& move : moves)
        if (!(volume.items[move.item].attr & kAttrFolder))
            place(move);
}

// Puts the moved finds at the end of the list, those of one folder together and in the order
// found, so that a folder's finds stand in one run as the walks left them; from (where each
// was, by its old index) becomes volume.recycledFrom by the new index.
void MoveToEnd(VolumeEntry& volume, const std::vector<bool>& moved,
               std::unordered_map<std::size_t, std::string>& from)
{
    std::vector<std::size_t> order;
    std::vector<std::size_t> tail;
    order.reserve(volume.items.size());
    for (std::size_t i = 0; i < volume.items.size(); ++i)
        (moved[i] ? tail : order).push_back(i);
    std::stable_sort(tail.begin(), tail.end(),
                     [&volume](std::size_t a, std::size_t b)
                     { return volume.items[a].path.view() < volume.items[b].path.view(); });
    const std::size_t firstMoved = order.size();
    order.insert(order.end(), tail.begin(), tail.end());
    FoundItems items;
    items.reserve(volume.items.size());
    for (std::size_t i : order)
        items.push_back(std::move(volume.items[i]));
    volume.items = std::move(items);
    volume.lookup.Clear();
    volume.recycledFrom.clear();
    for (std::size_t k = firstMoved; k < order.size(); ++k)
        volume.recycledFrom.emplace(k, std::move(from[order[k]]));
}
} // namespace

void ListRecycledFinds(VolumeEntry& volume)
{
    if (!Running() || volume.engine == nullptr)
        return;
    std::vector<Move> moves;
    for (const auto& [folder, finds] : GroupByFolder(volume))
    {
        if (!Running())
            return;
        if (!finds.data.empty() || !finds.dc.empty())
            FolderMoves(volume, finds, &moves);
    }
    DropNested(volume, &moves);
    if (moves.empty())
        return;
    // Of two files recycled from one path, the one recycled last keeps its name: it is the
    // version the folder held last.
    std::sort(moves.begin(), moves.end(),
              [](const Move& a, const Move& b)
              { return a.deletedAt != b.deletedAt ? a.deletedAt > b.deletedAt : a.item < b.item; });
    std::vector<bool> moved(volume.items.size(), false);
    std::unordered_map<std::size_t, std::string> from;
    PlaceMoves(volume, moves, &moved, &from);
    MoveToEnd(volume, moved, from);
}
