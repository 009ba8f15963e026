// UTF-16LE names converted to UTF-8: the one-byte path for ASCII and the general encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Unicode.h"

namespace
{
struct Case
{
    const char* what;
    std::u16string units;
    u32 capacity;
    bool stopAtNul;
    std::string expected;
};

std::vector<u8> LittleEndian(const std::u16string& units)
{
    std::vector<u8> bytes;
    for (char16_t u : units)
    {
        bytes.push_back(static_cast<u8>(u & 0xFF));
        bytes.push_back(static_cast<u8>(u >> 8));
    }
    return bytes;
}
} // namespace

TEST(Utf16LeToUtf8Test, ConvertsAsciiMixedAndDamagedNames)
{
    const Case cases[] = {
        {"ascii", u"notes.txt", 64, false, "notes.txt"},
        {"mixed", u"\u00e9t\u00e9 \u20ac.txt", 64, false, "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt"},
        {"surrogate pair", u"a\xD83D\xDE00", 64, false, "a\xF0\x9F\x98\x80"},
        {"lone surrogate", u"a\xD800z", 64, false, "a\xEF\xBF\xBDz"},
        {"ascii cut before the terminator", u"abcdef", 4, false, "abc"},
        {"two-byte letter that does not fit", u"ab\u00e9", 4, false, "ab"},
        {"stops at NUL", std::u16string(u"ab\0cd", 5), 64, true, "ab"},
        {"NUL kept without stopAtNul", std::u16string(u"a\0b", 3), 64, false,
         std::string("a\0b", 3)},
        // Longer names, taken four units at a time while they are ASCII.
        {"ascii past four", u"abcdefghij", 64, false, "abcdefghij"},
        {"accent in the first four", u"ab\u00e9defgh", 64, false,
         "ab\xC3\xA9"
         "defgh"},
        {"accent in the second four", u"abcdef\u00e9h", 64, false, "abcdef\xC3\xA9h"},
        {"unit 0x80 after four", u"abcd\u0080", 64, false, "abcd\xC2\x80"},
        {"stops at a NUL after four", std::u16string(u"abcde\0gh", 8), 64, true, "abcde"},
        {"NUL after four kept", std::u16string(u"abcde\0gh", 8), 64, false,
         std::string("abcde\0gh", 8)},
        {"cut at four", u"abcdefghij", 5, false, "abcd"},
        {"cut at five", u"abcdefghij", 6, false, "abcde"},
        {"cut at eight", u"abcdefghij", 9, false, "abcdefgh"},
    };
    for (const Case& c : cases)
    {
        const std::vector<u8> bytes = LittleEndian(c.units);
        std::string out(c.capacity, 'x');
        const u32 length = Utf16LeToUtf8(bytes.data(), static_cast<u32>(c.units.size()), out.data(),
                                         c.capacity, c.stopAtNul);
        EXPECT_EQ(std::string(out.data(), length), c.expected) << c.what;
        EXPECT_EQ(out[length], '\0') << c.what;
    }
}
