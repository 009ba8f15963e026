// A find's payload: tagged with its kind, read only as that kind, shared by copies.
#include "records/FoundItem.h"

#include <gtest/gtest.h>

TEST(FoundItemPayload, IsReadOnlyAsItsOwnKind)
{
    int record = 0;
    FoundItem item;
    EXPECT_EQ(item.Payload(FindPayload::kRecordData), nullptr);
    item.SetPayload(FindPayload::kStreamRecord, &record);
    // Another engine's kind, or none, never reads it.
    EXPECT_EQ(item.Payload(FindPayload::kRecordData), nullptr);
    EXPECT_EQ(item.Payload(FindPayload::kNone), nullptr);
    EXPECT_EQ(item.Payload(FindPayload::kStreamRecord), &record);
    EXPECT_EQ(item.TakePayload(FindPayload::kRecordData), nullptr);

    // Copies share it; taking it from one leaves the other's.
    FoundItem copy = item;
    EXPECT_EQ(copy.TakePayload(FindPayload::kStreamRecord), &record);
    EXPECT_EQ(copy.Payload(FindPayload::kStreamRecord), nullptr);
    EXPECT_EQ(item.Payload(FindPayload::kStreamRecord), &record);

    // No kind, or no pointer, is no payload.
    item.SetPayload(FindPayload::kNone, &record);
    EXPECT_EQ(item.Payload(FindPayload::kStreamRecord), nullptr);
    item.SetPayload(FindPayload::kRecordData, nullptr);
    EXPECT_EQ(item.Payload(FindPayload::kRecordData), nullptr);
    // The kind lies in the flags' byte: the other flags keep their values beside it.
    item.inferred = 1;
    item.clipped = 1;
    item.SetPayload(FindPayload::kRecordData, &record);
    EXPECT_EQ(item.inferred, 1);
    EXPECT_EQ(item.yields, 0);
    EXPECT_EQ(item.clipped, 1);
    EXPECT_EQ(item.Payload(FindPayload::kRecordData), &record);
}
