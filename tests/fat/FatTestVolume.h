// Crafted FAT boot sectors and small in-memory FAT volumes for the FAT engine's byte-array
// tests.
#pragma once

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Types.h"

// The BPB fields a crafted boot sector carries; defaults give a small valid FAT16 volume.
struct BpbFields
{
    u16 bytesPerSector = 512;
    u8 sectorsPerCluster = 1;
    u16 reservedSectors = 1;
    u8 fatCount = 2;
    u16 rootEntryCount = 512;
    u16 totalSectors16 = 0;
    u8 media = 0xF8;
    u16 fatSectors16 = 32;
    u32 totalSectors32 = 10000;
    u32 fatSectors32 = 0;
    u32 rootCluster = 2;
};

// A 512-byte sector 0 holding the fields at their on-disk offsets.
inline std::array<u8, 512> MakeBootSector(const BpbFields& f)
{
    std::array<u8, 512> s{};
    s[0] = 0xEB;
    s[1] = 0x3C;
    s[2] = 0x90;
    StoreLe16(&s[0x0B], f.bytesPerSector);
    s[0x0D] = f.sectorsPerCluster;
    StoreLe16(&s[0x0E], f.reservedSectors);
    s[0x10] = f.fatCount;
    StoreLe16(&s[0x11], f.rootEntryCount);
    StoreLe16(&s[0x13], f.totalSectors16);
    s[0x15] = f.media;
    StoreLe16(&s[0x16], f.fatSectors16);
    StoreLe32(&s[0x20], f.totalSectors32);
    StoreLe32(&s[0x24], f.fatSectors32);
    StoreLe32(&s[0x2C], f.rootCluster);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

// An in-memory volume: sector 0 and FAT copy 1, plus `tail` sectors after the FAT filled
// with 0xA5 (bytes an entry read must never pick up). Entries are written through SetEntry.
class TestVolume
{
public:
    TestVolume(const BpbFields& f, u32 fatBits, u32 tailSectors = 1)
        : m_fields(f), m_fatBits(fatBits)
    {
        const u32 bps = f.bytesPerSector;
        m_fatSectors = f.fatSectors16 ? f.fatSectors16 : f.fatSectors32;
        const u64 fatEnd = static_cast<u64>(f.reservedSectors) + m_fatSectors;
        m_image.assign((fatEnd + tailSectors) * bps, 0);
        for (u64 i = fatEnd * bps; i < m_image.size(); ++i)
            m_image[i] = 0xA5;
        const auto boot = MakeBootSector(f);
        std::copy(boot.begin(), boot.end(), m_image.begin());
    }

    void SetEntry(u32 cluster, u32 value)
    {
        u8* fat = m_image.data() +
                  static_cast<std::size_t>(m_fields.reservedSectors) * m_fields.bytesPerSector;
        if (m_fatBits == 12)
        {
            u8* p = fat + cluster * 3 / 2;
            u16 v = LoadLe16(p);
            if (cluster & 1)
                v = static_cast<u16>((v & 0x000F) | (value << 4));
            else
                v = static_cast<u16>((v & 0xF000) | (value & 0xFFF));
            StoreLe16(p, v);
        }
        else if (m_fatBits == 16)
            StoreLe16(fat + cluster * 2, static_cast<u16>(value));
        else
            StoreLe32(fat + static_cast<std::size_t>(cluster) * 4, value);
    }

    // Byte offset of FAT copy 1 in the image.
    [[nodiscard]] std::size_t FatOffset() const
    {
        return static_cast<std::size_t>(m_fields.reservedSectors) * m_fields.bytesPerSector;
    }
    [[nodiscard]] u32 FatSectors() const { return m_fatSectors; }
    [[nodiscard]] std::vector<u8>& Image() { return m_image; }
    [[nodiscard]] const u8* Bpb() const { return m_image.data() + 0x0B; }

private:
    BpbFields m_fields;
    u32 m_fatBits;
    u32 m_fatSectors = 0;
    std::vector<u8> m_image;
};

// Geometries of the three FAT types, with 512-byte sectors and one sector per cluster.
// FAT12: 12 FAT sectors (4096 entries), 2000 clusters.
inline BpbFields Fat12Fields()
{
    BpbFields f;
    f.fatCount = 1;
    f.rootEntryCount = 16;
    f.fatSectors16 = 12;
    f.totalSectors16 = 1 + 12 + 1 + 2000;
    f.totalSectors32 = 0;
    return f;
}

// FAT16: 32 FAT sectors (8192 entries), 5000 clusters.
inline BpbFields Fat16Fields()
{
    BpbFields f;
    f.fatCount = 1;
    f.rootEntryCount = 16;
    f.fatSectors16 = 32;
    f.totalSectors16 = 1 + 32 + 1 + 5000;
    f.totalSectors32 = 0;
    return f;
}

// FAT32: 600 FAT sectors (76800 entries), 80000 clusters.
inline BpbFields Fat32Fields()
{
    BpbFields f;
    f.reservedSectors = 32;
    f.fatCount = 1;
    f.rootEntryCount = 0;
    f.fatSectors16 = 0;
    f.fatSectors32 = 600;
    f.totalSectors32 = 32 + 600 + 80000;
    return f;
}

// A whole image file in one read (an empty vector when it cannot be read).
inline std::vector<u8> ReadImage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    std::vector<u8> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in)
        bytes.clear();
    return bytes;
}
