// Shared pieces of the recovery tests: recording sink and message box, a host with
// replaceable answers, volume entries opened the way the search start opens them, and the
// content the image recipes write.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/File_RW.h"
#include "fat/FatBootSector.h"
#include "fat/FatTable.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "platform/DriveTable.h"
#include "platform/EventSink.h"
#include "platform/MessageBox.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryHost.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatScan.h"
#include "scan/fat/FatVolumeState.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"
#include "support/DriveSources.h"
#include "support/RecordingSink.h"
#include "support/TestImages.h"

namespace recoverytest
{
using Event = RecordingSink::Event;

// Whether the recovery posted its finished notice.
inline bool Finished(const RecordingSink& sink)
{
    return !sink.Of(kRecoverFinished).empty();
}

class RecordingBox final : public IMessageBox
{
public:
    void Show(const std::string& text, const std::string& caption) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        shown.emplace_back(text, caption);
    }
    std::vector<std::pair<std::string, std::string>> shown;

private:
    std::mutex m_mutex;
};

// The system's answers unless a test overrides one of them.
class FakeHost final : public IRecoveryHost
{
public:
    FakeHost() = default;
    ~FakeHost() override { SetRecoveryHost(nullptr); }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    bool FreeSpace(const std::string& path, u64* blockSize, u64* freeBlocks) override
    {
        if (freeSpace)
            return freeSpace(path, blockSize, freeBlocks);
        return System().FreeSpace(path, blockSize, freeBlocks);
    }
    std::optional<PathFacts> Stat(const std::string& path) override
    {
        if (stat)
            return stat(path);
        return System().Stat(path);
    }
    std::vector<PartitionFacts> Partitions(u64 disk) override
    {
        if (partitions)
            return partitions(disk);
        return System().Partitions(disk);
    }
    std::optional<LoopFacts> LoopBacking(u64 device) override
    {
        if (loopBacking)
            return loopBacking(device);
        return System().LoopBacking(device);
    }
    std::vector<std::string> MountSources(u64 device) override
    {
        if (mountSources)
            return mountSources(device);
        return System().MountSources(device);
    }

    std::function<bool(const std::string&, u64*, u64*)> freeSpace;
    std::function<std::optional<PathFacts>(const std::string&)> stat;
    std::function<std::vector<PartitionFacts>(u64)> partitions;
    std::function<std::optional<LoopFacts>(u64)> loopBacking;
    std::function<std::vector<std::string>(u64)> mountSources;

private:
    static IRecoveryHost& System() { return SystemRecoveryHost(); }
};

// Sets HOME for the life of the object.
class HomeOverride
{
public:
    explicit HomeOverride(const std::string& home)
    {
        if (const char* old = std::getenv("HOME"))
            m_old = old;
        ::setenv("HOME", home.c_str(), 1);
    }
    ~HomeOverride()
    {
        if (m_old)
            ::setenv("HOME", m_old->c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    HomeOverride(const HomeOverride&) = delete;
    HomeOverride& operator=(const HomeOverride&) = delete;

private:
    std::optional<std::string> m_old;
};

// Content of a file written by fat.sh: lines "<tag> line NNNNN" cut to size.
inline std::string FatContent(const std::string& tag, std::size_t size)
{
    std::string out;
    char line[600];
    for (int i = 1; out.size() < size; ++i)
    {
        std::snprintf(line, sizeof line, "%s line %05d\n", tag.c_str(), i);
        out += line;
    }
    out.resize(size);
    return out;
}

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Every file and folder below root, relative, sorted; folders end with '/'.
inline std::vector<std::string> Tree(const std::string& root)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    {
        std::string rel = std::filesystem::relative(it->path(), root).string();
        if (it->is_directory() && !it->is_symlink())
            rel += '/';
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Registers image under drive and opens a FAT volume entry on it through the engine's own
// Open, as the search start does; reader replaces the drive table's reader when given.
inline bool OpenFatEntry(const std::string& image, const std::string& drive, VolumeEntry& entry,
                         std::unique_ptr<CDirectRW> reader = nullptr)
{
    RegisterSource(drive, image);
    entry.name = drive;
    return reader ? FatEngine().OpenOn(entry, std::move(reader)) : FatEngine().Open(entry);
}

inline bool OpenNtfsEntry(const std::string& image, const std::string& drive, VolumeEntry& entry,
                          std::unique_ptr<CDirectRW> reader = nullptr)
{
    RegisterSource(drive, image);
    entry.name = drive;
    entry.fsType = kFsNtfs;
    entry.engine = &NtfsEngine();
    CNtfs& ntfs = *SetNtfsState(entry, reader ? std::make_unique<CNtfs>(std::move(reader))
                                              : std::make_unique<CNtfs>())
                       ->ntfs;
    return ntfs.Open(drive, 1) == kOk;
}

// A catalogue with one scanned volume, a recording sink and box, and a scratch destination.
class RecoveryBase : public ::testing::Test
{
protected:
    void TearDown() override
    {
        g_bRunning = 0;
        if (m_catalog.m_recoverThread.joinable())
            m_catalog.m_recoverThread.join();
        g_Selection.clear();
        SetRecoveryHost(nullptr);
    }

    void AddFat(const std::string& image,
                const std::string& drive = "C:", std::unique_ptr<CDirectRW> reader = nullptr)
    {
        VolumeEntry entry;
        ASSERT_TRUE(OpenFatEntry(image, drive, entry, std::move(reader)));
        m_catalog.m_volumes.push_back(std::move(entry));
        g_bRunning = 1;
        ASSERT_EQ(ScanFatVolume(m_catalog, m_catalog.m_volumes.back()), kOk);
        g_bRunning = 0;
    }

    void AddNtfs(const std::string& image,
                 const std::string& drive = "N:", std::unique_ptr<CDirectRW> reader = nullptr)
    {
        VolumeEntry entry;
        ASSERT_TRUE(OpenNtfsEntry(image, drive, entry, std::move(reader)));
        m_catalog.m_volumes.push_back(std::move(entry));
        g_bRunning = 1;
        ASSERT_EQ(ScanNtfsVolume(m_catalog, m_catalog.m_volumes.back()), kOk);
        g_bRunning = 0;
    }

    FoundItem* Item(const std::string& path, const std::string& name, std::size_t volume = 0)
    {
        for (FoundItem& item : m_catalog.m_volumes[volume].items)
            if (item.path == path && item.name == name)
                return &item;
        return nullptr;
    }

    // Runs a recovery of the selection shown in folder into dest and waits for its end.
    u32 Recover(const std::string& folder, std::vector<SelEntry> selection, const std::string& dest)
    {
        m_catalog.m_sink = &m_sink;
        m_catalog.m_messageBox = &m_box;
        m_catalog.m_curPath = folder;
        g_Selection = std::move(selection);
        const u32 status = m_catalog.StartRecovery(dest);
        if (m_catalog.m_recoverThread.joinable())
            m_catalog.m_recoverThread.join();
        g_bRunning = 0;
        return status;
    }

    CCatalog m_catalog;
    RecordingSink m_sink{WM_RECOVER_NOTIFY}; // the recovery's notifications
    RecordingBox m_box;
};
} // namespace recoverytest
