// The command line's event queue: a run of finds comes out as one event with their count.
#include "cli/CliSink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace
{
TEST(CliSinkTest, FoldsRunsOfLikeFindsAndKeepsEverythingElse)
{
    struct Posted
    {
        u32 message;
        u32 code;
        const char* text;
        u32 extra;
    };
    // Finds of one kind in a row fold into the last; a change of kind, or any other event
    // between them, starts a new one. Recovery events never fold.
    const std::vector<Posted> posted = {
        {WM_SCAN_NOTIFY, 1, "C:\\a", 0x20},      {WM_SCAN_NOTIFY, 1, "C:\\b", 0x20},
        {WM_SCAN_NOTIFY, 1, "C:\\dir", 0x10},    {WM_SCAN_NOTIFY, 1, "C:\\dir\\c", 0x20},
        {WM_SCAN_NOTIFY, 3, "damaged", 0},       {WM_SCAN_NOTIFY, 1, "C:\\dir\\d", 0x20},
        {WM_SCAN_NOTIFY, 1, "C:\\dir\\e", 0x20}, {WM_RECOVER_NOTIFY, 0, "one", 0},
        {WM_RECOVER_NOTIFY, 0, "two", 0},        {WM_SCAN_NOTIFY, 2, "", 0}};
    const std::vector<std::pair<std::string, u32>> expected = {
        {"C:\\b", 2},      {"C:\\dir", 1}, {"C:\\dir\\c", 1}, {"damaged", 1},
        {"C:\\dir\\e", 2}, {"one", 1},     {"two", 1},        {"", 1}};

    CCliSink sink;
    for (const Posted& p : posted)
        sink.Post(p.message, p.code, p.text, p.extra);
    std::vector<CCliSink::Event> events;
    ASSERT_TRUE(sink.Take(&events, std::chrono::milliseconds(0)));
    std::vector<std::pair<std::string, u32>> got;
    for (const CCliSink::Event& e : events)
        got.emplace_back(e.text, e.count);
    EXPECT_EQ(got, expected);

    // What was taken is not folded into again.
    sink.Post(WM_SCAN_NOTIFY, 1, "C:\\f", 0x20);
    events.clear();
    ASSERT_TRUE(sink.Take(&events, std::chrono::milliseconds(0)));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].count, 1u);
}
} // namespace
