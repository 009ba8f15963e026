// The MFT's records read and decoded in batches, handed over in record order, so that the
// search's other half (folder paths, numbering, the items) runs meanwhile on the caller's
// thread. A thread of its own decodes batches ahead; a caller that would wait for the next one
// decodes a batch further on itself. Decoding is the longer half: shared this way, neither
// thread waits while the other works (on the 2-million-record bench volume, 514 ms became 447
// against one thread decoding while the other files).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ntfs/Ntfs.h"
#include "platform/Types.h"

class CNtfsRecordFeed
{
public:
    // A record that read and decoded as a find: its number and what it holds; or a record the
    // device did not deliver (unreadable, info empty).
    struct Decoded
    {
        s64 record = 0;
        NtfsRecordInfo info;
        bool unreadable = false;
    };

    CNtfsRecordFeed() = default;
    ~CNtfsRecordFeed();
    CNtfsRecordFeed(const CNtfsRecordFeed&) = delete;
    CNtfsRecordFeed& operator=(const CNtfsRecordFeed&) = delete;

    // Records per batch: about 1 MiB of MFT.
    static constexpr std::size_t kBatchRecords = 1024;

    // Starts reading records [first, end) of the volume that ntfs has open, in batches of
    // batchRecords, through ntfs with reads of its own (readers of the volume on drive, so
    // that the caller's reads stay free for the folder lookups). ntfs outlives the feed.
    // False when the readers could not open the volume or the thread could not start: the
    // caller then reads the records itself.
    bool Start(const CNtfs& ntfs, const std::string& drive, s64 first, s64 end,
               std::size_t batchRecords = kBatchRecords);

    // Replaces *batch (emptied, its room kept for a later batch) with the next records that
    // decoded; false once every record has been handed over or the search was stopped.
    bool Next(std::vector<Decoded>* batch);

    // Stops the thread, waits for it and gives back the data blocks no one took.
    void Stop();

private:
    // One thread's reads of records and the record its last batch ended at.
    struct Decoder
    {
        std::unique_ptr<CNtfs::RecordReads> reads;
        s64 next = -1;
    };
    // A claimed batch: ready once its decoder has stored the records.
    struct Slot
    {
        bool ready = false;
        std::vector<Decoded> records;
    };

    void Run();
    // Claims the next batch not yet claimed when there is one and room for it ahead of the
    // caller; sets *index and hands out an emptied record vector. Called under m_mutex.
    bool Claim(std::size_t* index, std::vector<Decoded>* records);
    // Decodes batch index through decoder into *records (outside m_mutex).
    void Decode(Decoder& decoder, std::size_t index, std::vector<Decoded>* records) const;
    // Files the decoded batch index in its slot. Called under m_mutex.
    void Store(std::size_t index, std::vector<Decoded>&& records);

    const CNtfs* m_ntfs = nullptr; // the parser both decoders read records through
    Decoder m_thread;              // the thread's reads
    Decoder m_caller;              // the reads of the batches the caller decodes
    s64 m_first = 0;
    s64 m_end = 0;
    std::size_t m_batchRecords = kBatchRecords;
    std::size_t m_batches = 0; // batches of records in [first, end)

    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_claimed = 0;                 // batches claimed: the next claim's index
    std::size_t m_taken = 0;                   // batches handed to the caller
    std::deque<Slot> m_slots;                  // batches m_taken to m_claimed - 1
    std::vector<std::vector<Decoded>> m_spare; // emptied batches, to fill again
    bool m_stop = false;                       // the caller wants no more
};
