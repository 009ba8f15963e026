// The compact text of a find: its two forms, sharing between copies and what a change does to
// the copies.
#include "records/ItemText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace
{
// Every length around the change of form of both sizes, and a long one.
const std::vector<std::string> kTexts = {"",
                                         "C:",
                                         std::string(14, 'a'),
                                         std::string(15, 'b'),
                                         std::string(16, 'c'),
                                         std::string(23, 'e'),
                                         std::string(24, 'f'),
                                         "C:\\Users\\someone\\Pictures\\2019",
                                         std::string(1000, 'd') + "\xC3\xA9"};

template <typename Text> void CheckEveryLength()
{
    for (const std::string& text : kTexts)
    {
        SCOPED_TRACE(text.size());
        Text a(text);
        EXPECT_EQ(a.size(), text.size());
        EXPECT_EQ(a.empty(), text.empty());
        EXPECT_EQ(a, text);
        EXPECT_EQ(std::string(a.c_str()), text); // terminated by a zero
        EXPECT_EQ(a.str(), text);

        Text copy = a;
        EXPECT_EQ(copy, a);
        copy += ".x";
        EXPECT_EQ(copy, text + ".x");
        EXPECT_EQ(a, text); // a change to a copy leaves the original as it was

        Text moved = std::move(a);
        EXPECT_EQ(moved, text);
        EXPECT_TRUE(a.empty()); // NOLINT(bugprone-use-after-move): a moved-from text is empty
        EXPECT_STREQ(a.c_str(), "");

        Text assigned("old text that is long enough for the heap");
        assigned = moved;
        moved = "other";
        EXPECT_EQ(assigned, text);
        const Text& same = assigned;
        assigned = same; // to itself: the text stays
        EXPECT_EQ(assigned, text);

        const ItemName other = Text(text); // from one size to the other
        EXPECT_EQ(other, text);
    }
}

TEST(ItemTextTest, KeepsTextCopiesAndMovesAtEveryLength)
{
    CheckEveryLength<ItemText>();
    CheckEveryLength<ItemName>();
}

TEST(ItemTextTest, LongTextIsSharedByCopiesAndFreedWithTheLast)
{
    const std::string text(40, 'p');
    std::vector<ItemText> copies;
    {
        const ItemText first(text);
        for (int i = 0; i < 100; ++i)
            copies.push_back(first);
        EXPECT_EQ(copies.back().data(), first.data()); // one heap block for all of them
    }
    copies.resize(1); // the sanitizer run reports a block freed early or never
    EXPECT_EQ(copies[0], text);
    ItemText other(text);
    EXPECT_NE(other.data(), copies[0].data()); // equal texts made apart are not shared
}

TEST(ItemTextTest, ComparesAndJoinsLikeAString)
{
    const ItemText folder("C:\\docs");
    const ItemText name("report.final.txt");
    EXPECT_EQ(folder + "\\" + name, "C:\\docs\\report.final.txt");
    EXPECT_EQ(std::string("x") + name, "xreport.final.txt");
    EXPECT_EQ(name.rfind('.'), 12u);
    EXPECT_EQ(name.substr(13), "txt");
    EXPECT_TRUE(folder.starts_with("C:\\"));
    EXPECT_LT(folder, "C:\\e");
    EXPECT_NE(folder, name);
    EXPECT_EQ(folder, std::string("C:\\docs"));
}
} // namespace
