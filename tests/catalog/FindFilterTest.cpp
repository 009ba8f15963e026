// The filter rules: name substrings and wildcards, type categories by extension and by MIME
// type, "recoverable only", folders.
#include "catalog/FindFilter.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
// A MIME database that knows a few extensions and counts the lookups.
class FakeMimeTypes final : public IMimeTypes
{
public:
    bool MimeType(const std::string& extension, std::string* type) override
    {
        ++lookups[extension];
        static const std::map<std::string, std::string> kKnown = {
            {"kra", "image/x-krita"},
            {"fb2", "text/x-fictionbook"},
            {"ogv", "video/ogg"},
            {"spx", "audio/x-speex"},
            {"lz4", "application/x-lz4"},
            {"cpio", "application/x-cpio"},
            {"dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template"},
            {"apk", "application/vnd.android.package-archive"},
        };
        auto it = kKnown.find(extension);
        if (it == kKnown.end())
            return false;
        *type = it->second;
        return true;
    }
    std::map<std::string, int> lookups;
};

FoundItem Find(const std::string& name, u8 attr = 0x20,
               FindCondition condition = FindCondition::kGood)
{
    FoundItem item;
    item.path = "C:\\docs";
    item.name = name;
    item.attr = attr;
    item.condition = condition;
    return item;
}

struct Case
{
    const char* pattern;
    FindType type;
    bool recoverableOnly;
    FoundItem item;
    bool shown;
};

TEST(FindFilter, RulesDecideWhatIsShown)
{
    constexpr u8 kFolder = 0x10;
    const Case cases[] = {
        // name: substring anywhere, ASCII case ignored, UTF-8 kept whole
        {"", FindType::kAll, false, Find("anything.bin"), true},
        {"REPORT", FindType::kAll, false, Find("Final report.txt"), true},
        {"repo", FindType::kAll, false, Find("Final Report.txt"), true},
        {"reports", FindType::kAll, false, Find("Final Report.txt"), false},
        {"ÉTÉ", FindType::kAll, false, Find("été.jpg"), false}, // only ASCII folds
        {"été", FindType::kAll, false, Find("photo été.jpg"), true},
        // wildcards match the whole name; '?' is one character, even a multi-byte one
        {"*.JPG", FindType::kAll, false, Find("holiday.jpg"), true},
        {"*.jpg", FindType::kAll, false, Find("holiday.jpg.bak"), false},
        {"h?liday*", FindType::kAll, false, Find("HOLIDAY 2.png"), true},
        {"?t?.jpg", FindType::kAll, false, Find("été.jpg"), true},
        {"??", FindType::kAll, false, Find("abc"), false},
        {"a*b*c", FindType::kAll, false, Find("axxbyyc"), true},
        {"a*b*c", FindType::kAll, false, Find("axxbyyd"), false},
        {"*", FindType::kAll, false, Find(""), true},
        // a name that is no valid UTF-8 is matched byte for byte, never read past its end
        {"\xC3", FindType::kAll, false, Find("a\xC3"), true},
        {"?", FindType::kAll, false, Find("\xE2\x82"), false},
        // categories by extension, case ignored, the last dot counting
        {"", FindType::kPictures, false, Find("IMG_0001.JPG"), true},
        {"", FindType::kPictures, false, Find("scan.tiff"), true},
        {"", FindType::kPictures, false, Find("photo.jpg.txt"), false},
        {"", FindType::kDocuments, false, Find("letter.docx"), true},
        {"", FindType::kVideo, false, Find("clip.MKV"), true},
        {"", FindType::kAudio, false, Find("song.flac"), true},
        {"", FindType::kArchives, false, Find("backup.tar.gz"), true},
        {"", FindType::kOther, false, Find("program.exe"), true},
        {"", FindType::kOther, false, Find("README"), true},
        {"", FindType::kOther, false, Find("trailing."), true},
        {"", FindType::kOther, false, Find("song.mp3"), false},
        // categories by MIME type where the extension is in no list
        {"", FindType::kPictures, false, Find("drawing.kra"), true},
        {"", FindType::kDocuments, false, Find("book.fb2"), true},
        {"", FindType::kDocuments, false, Find("form.dotx"), true},
        {"", FindType::kVideo, false, Find("movie.ogv"), true},
        {"", FindType::kAudio, false, Find("voice.spx"), true},
        {"", FindType::kArchives, false, Find("initrd.cpio"), false}, // not a listed archive
        {"", FindType::kOther, false, Find("initrd.cpio"), true},
        {"", FindType::kOther, false, Find("app.apk"), true},
        // "recoverable only" hides overwritten finds, nothing else
        {"", FindType::kAll, true, Find("a.txt", 0x20, FindCondition::kOverwritten), false},
        {"", FindType::kAll, true, Find("a.txt", 0x20, FindCondition::kPartial), true},
        {"", FindType::kAll, true, Find("a.txt", 0x20, FindCondition::kUnknown), true},
        {"", FindType::kAll, false, Find("a.txt", 0x20, FindCondition::kOverwritten), true},
        // folders pass on their name while the type is All, never under a category
        {"pho", FindType::kAll, false, Find("Photos", kFolder, FindCondition::kNotJudged), true},
        {"", FindType::kPictures, false, Find("x.jpg", kFolder, FindCondition::kNotJudged), false},
        {"", FindType::kAll, true, Find("Photos", kFolder, FindCondition::kNotJudged), true},
        // every rule at once
        {"*2026*", FindType::kPictures, true, Find("img-2026-01.png"), true},
        {"*2026*", FindType::kPictures, true,
         Find("img-2026-01.png", 0x20, FindCondition::kOverwritten), false},
    };
    FakeMimeTypes mime;
    for (const Case& c : cases)
    {
        FindFilter filter;
        filter.SetMimeTypes(&mime);
        filter.SetName(c.pattern);
        filter.SetType(c.type);
        filter.SetRecoverableOnly(c.recoverableOnly);
        EXPECT_EQ(filter.Matches(c.item), c.shown)
            << "pattern '" << c.pattern << "' type " << FindTypeText(c.type) << " recoverable "
            << c.recoverableOnly << " name '" << c.item.name.str() << "'";
        EXPECT_EQ(filter.IsSet(),
                  *c.pattern != '\0' || c.type != FindType::kAll || c.recoverableOnly);
    }
}

TEST(FindFilter, MimeDatabaseIsOptionalAndAskedOncePerExtension)
{
    FindFilter filter;
    EXPECT_EQ(filter.TypeOf("drawing.kra"), FindType::kOther); // extensions only
    FakeMimeTypes mime;
    filter.SetMimeTypes(&mime);
    EXPECT_EQ(filter.TypeOf("a.kra"), FindType::kPictures);
    EXPECT_EQ(filter.TypeOf("b.KRA"), FindType::kPictures); // asked with its case kept, once
    EXPECT_EQ(filter.TypeOf("c.jpg"), FindType::kPictures); // listed: not asked
    EXPECT_EQ(mime.lookups.size(), 1u);
    EXPECT_EQ(mime.lookups["kra"], 1);
}

TEST(FindFilter, TypeNamesRoundTrip)
{
    for (std::size_t i = 0; i < kFindTypeCount; ++i)
    {
        const auto type = static_cast<FindType>(i);
        FindType parsed = FindType::kAll;
        ASSERT_TRUE(ParseFindType(FindTypeText(type), &parsed));
        EXPECT_EQ(parsed, type);
    }
    FindType parsed = FindType::kAll;
    EXPECT_TRUE(ParseFindType("pictures", &parsed));
    EXPECT_EQ(parsed, FindType::kPictures);
    EXPECT_FALSE(ParseFindType("photos", &parsed));
    EXPECT_FALSE(ParseFindType("", &parsed));
}
} // namespace
