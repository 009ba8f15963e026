// SQLite databases: the header, the page count it vouches for, and the b-tree pages reached
// from the schema's root pages.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/DocRead.h"

namespace
{
// Database header.
constexpr char kMagic[] = "SQLite format 3"; // with its NUL: the header's first 16 bytes
constexpr std::size_t kHeaderSize = 100;
constexpr std::size_t kHdrPageSize = 16;     // big-endian u16, 1 = 65536
constexpr std::size_t kHdrWriteVersion = 18; // 1 legacy, 2 WAL
constexpr std::size_t kHdrReadVersion = 19;
constexpr std::size_t kHdrReserved = 20; // reserved bytes at the end of each page
constexpr std::size_t kHdrMaxFrac = 21;  // 64
constexpr std::size_t kHdrMinFrac = 22;  // 32
constexpr std::size_t kHdrLeafFrac = 23; // 32
constexpr std::size_t kHdrChangeCounter = 24;
constexpr std::size_t kHdrPageCount = 28; // in-header database size
constexpr std::size_t kHdrValidFor = 92;  // version-valid-for number
// B-tree page header.
constexpr u8 kIndexInterior = 2;
constexpr u8 kTableInterior = 5;
constexpr u8 kIndexLeaf = 10;
constexpr u8 kTableLeaf = 13;

struct Db
{
    IContentSource& src;
    u64 pageSize = 0;
    u64 usable = 0;
    u64 pages = 0; // pages the file holds
    std::vector<u8> seen;
    u64 badPage = 0; // lowest page found not to be what it must be (0: none)
    std::vector<u32> roots;
};

void Bad(Db& db, u64 page)
{
    if (db.badPage == 0 || page < db.badPage)
        db.badPage = page;
}

// Reads a varint at p within [p, end); returns bytes taken (0 when it runs past end).
std::size_t Varint(const u8* p, const u8* end, u64* v)
{
    *v = 0;
    for (std::size_t i = 0; i < 9 && p + i < end; ++i)
    {
        if (i == 8)
        {
            *v = (*v << 8) | p[i];
            return 9;
        }
        *v = (*v << 7) | (p[i] & 0x7F);
        if ((p[i] & 0x80) == 0)
            return i + 1;
    }
    return 0;
}

u64 SerialSize(u64 t)
{
    static constexpr u8 kFixed[10] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
    if (t < 10)
        return kFixed[t];
    return t >= 12 ? (t - 12) / 2 : 0;
}

// The rootpage column of a sqlite_schema record in a leaf cell at cell (its local part).
void NoteSchemaRoot(Db& db, const u8* cell, const u8* end)
{
    u64 payload = 0;
    u64 rowid = 0;
    std::size_t n = Varint(cell, end, &payload);
    if (n == 0)
        return;
    const std::size_t m = Varint(cell + n, end, &rowid);
    if (m == 0)
        return;
    const u8* rec = cell + n + m;
    u64 headerLen = 0;
    std::size_t k = Varint(rec, end, &headerLen);
    if (k == 0 || headerLen > static_cast<u64>(end - rec))
        return;
    u64 offset = headerLen;
    for (int col = 0; col < 4 && k < headerLen; ++col)
    {
        u64 t = 0;
        const std::size_t used = Varint(rec + k, rec + headerLen, &t);
        if (used == 0)
            return;
        k += used;
        if (col == 3)
        {
            const u64 len = SerialSize(t);
            if (t < 1 || t > 6 || offset + len > static_cast<u64>(end - rec))
                return;
            u64 root = 0;
            for (u64 b = 0; b < len; ++b)
                root = (root << 8) | rec[offset + b];
            if (root != 0 && root <= 0xFFFFFFFF)
                db.roots.push_back(static_cast<u32>(root));
            return;
        }
        offset += SerialSize(t);
    }
}

// Checks page as a b-tree page and queues its children; schema: page 1's tree, whose leaf
// cells name the other roots.
void CheckPage(Db& db, u64 page, bool schema, std::vector<u64>* queue)
{
    std::vector<u8> buf(static_cast<std::size_t>(db.pageSize));
    if (!ReadExact(db.src, (page - 1) * db.pageSize, buf))
    {
        Bad(db, page);
        return;
    }
    const std::size_t h = page == 1 ? kHeaderSize : 0;
    const u8 type = buf[h];
    const bool interior = type == kIndexInterior || type == kTableInterior;
    if (!interior && type != kIndexLeaf && type != kTableLeaf)
    {
        Bad(db, page);
        return;
    }
    const u64 cells = LoadBe16(&buf[h + 3]);
    const u64 content = LoadBe16(&buf[h + 5]) == 0 ? 65536 : LoadBe16(&buf[h + 5]);
    const std::size_t ptrs = h + (interior ? 12 : 8);
    if (ptrs + 2 * cells > db.usable || content > db.usable ||
        (content < ptrs + 2 * cells && cells != 0))
    {
        Bad(db, page);
        return;
    }
    for (u64 i = 0; i < cells; ++i)
    {
        const u64 at = LoadBe16(&buf[ptrs + 2 * i]);
        if (at < content || at + (interior ? 4 : 1) > db.usable)
        {
            Bad(db, page);
            return;
        }
        if (interior)
            queue->push_back(LoadBe32(&buf[at]));
        else if (schema && type == kTableLeaf)
            NoteSchemaRoot(db, &buf[at], buf.data() + db.usable);
    }
    if (interior)
        queue->push_back(LoadBe32(&buf[h + 8]));
}

// Walks the tree from root; every page it reaches must be a b-tree page.
void WalkTree(Db& db, u64 root, bool schema)
{
    std::vector<u64> queue{root};
    // Each page is taken once (seen): at most pages steps.
    while (!queue.empty())
    {
        const u64 page = queue.back();
        queue.pop_back();
        if (page == 0 || page > db.pages)
        {
            Bad(db, std::min(page == 0 ? 1 : page, db.pages + 1));
            continue;
        }
        if (db.seen[page] != 0)
            continue;
        db.seen[page] = 1;
        CheckPage(db, page, schema, &queue);
    }
}
} // namespace

ContentCheck CheckSqlite(IContentSource& source)
{
    ContentCheck check;
    check.type = CarveType::kSqlite;
    check.verdict = FindContent::kDamaged;
    std::array<u8, kHeaderSize> h{};
    if (!ReadExact(source, 0, h) || std::memcmp(h.data(), kMagic, sizeof kMagic) != 0)
        return check;
    const u64 pageSize = LoadBe16(&h[kHdrPageSize]) == 1 ? 65536 : LoadBe16(&h[kHdrPageSize]);
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || h[kHdrWriteVersion] < 1 ||
        h[kHdrWriteVersion] > 2 || h[kHdrReadVersion] < 1 || h[kHdrReadVersion] > 2 ||
        h[kHdrMaxFrac] != 64 || h[kHdrMinFrac] != 32 || h[kHdrLeafFrac] != 32 ||
        pageSize - h[kHdrReserved] < 480)
        return check;
    const u64 size = source.Size();
    const u64 counted = LoadBe32(&h[kHdrPageCount]);
    const bool sized =
        counted != 0 && LoadBe32(&h[kHdrValidFor]) == LoadBe32(&h[kHdrChangeCounter]);
    Db db{source, pageSize, pageSize - h[kHdrReserved], sized ? counted : size / pageSize, {},
          0,      {}};
    if (sized)
        check.end = counted * pageSize;
    const u64 have = std::min(db.pages, size / pageSize);
    db.seen.assign(static_cast<std::size_t>(have + 1), 0);
    const u64 pages = db.pages;
    db.pages = have; // pages past Size() are missing
    WalkTree(db, 1, true);
    const std::vector<u32> roots = db.roots;
    for (const u32 root : roots)
        WalkTree(db, root, false);
    if (db.badPage == 0 && have == pages)
    {
        // Without a size of its own (written by a version before the in-header size) the
        // database's pages hold, but where it ends is not known: it is not vouched for whole.
        check.verdict = sized ? FindContent::kValid : FindContent::kNone;
        check.validBytes = pages * pageSize;
        return check;
    }
    check.validBytes = (db.badPage == 0 ? have : db.badPage - 1) * pageSize;
    return check;
}
