// The per-folder name table: clash numbering as a plain map of names would give it, through
// the table's growth.
#include "scan/FindNames.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace
{
// The numbering written out plainly: the reference the table must agree with.
std::string Reference(std::map<std::string, int>& counters, std::string name)
{
    auto [it, first] = counters.try_emplace(name, 0);
    if (first)
        return name;
    const std::string counter = "_" + std::to_string(++it->second) + "_";
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        name += counter;
    else
        name.insert(dot, counter);
    counters.try_emplace(name, 0);
    return name;
}
} // namespace

TEST(NameList, NumbersClashesAsAPlainMapWould)
{
    struct Case
    {
        const char* what;
        std::vector<std::string> names;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"repeats",
         {"a.txt", "a.txt", "A.TXT", "a.txt"},
         {"a.txt", "a_1_.txt", "A.TXT", "a_2_.txt"}},
        {"a numbered name met later",
         {"a.txt", "a.txt", "a_1_.txt"},
         {"a.txt", "a_1_.txt", "a_1__1_.txt"}},
        {"a numbered name met first",
         {"a_1_.txt", "a.txt", "a.txt", "a.txt"},
         {"a_1_.txt", "a.txt", "a_1_.txt", "a_2_.txt"}},
        {"no dot, two dots, empty",
         {"x", "x", "b.tar.gz", "b.tar.gz", "", ""},
         {"x", "x_1_", "b.tar.gz", "b.tar_1_.gz", "", "_1_"}},
    };
    for (const Case& c : cases)
    {
        NameList list;
        std::vector<std::string> got;
        for (const std::string& name : c.names)
            got.push_back(list.Unique(name));
        EXPECT_EQ(got, c.expected) << c.what;
    }

    // Thousands of names, a third of them repeats, through every growth of the table.
    NameList list;
    std::map<std::string, int> counters;
    for (int i = 0; i < 6000; ++i)
    {
        const std::string name =
            "IMG_" + std::to_string(i % 4000 * 7 % 4001) + (i % 5 ? ".JPG" : "");
        ASSERT_EQ(list.Unique(name), Reference(counters, name)) << i;
    }
}
