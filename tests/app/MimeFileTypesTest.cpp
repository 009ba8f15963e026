// File types from the desktop's shared MIME database.
#include "app/MimeFileTypes.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CMimeFileTypes, KnownExtensionsHaveDescriptionsAndIcons)
{
    CMimeFileTypes types;
    FileTypeInfo info;
    ASSERT_TRUE(types.Lookup("txt", &info));
    EXPECT_EQ(info.description, "plain text document");
    EXPECT_NE(info.icons.find("text-x-generic"), std::string::npos) << info.icons;
    EXPECT_EQ(info.icons.find("-symbolic"), std::string::npos) << info.icons;
    ASSERT_TRUE(types.Lookup("JPG", &info));
    EXPECT_FALSE(info.description.empty());
}

TEST(CMimeFileTypes, UnknownAndOddExtensionsAreNotKnown)
{
    CMimeFileTypes types;
    for (const std::string& extension :
         std::vector<std::string>{"xyz", "", "a/b", std::string("t\0xt", 4), "Directory"})
    {
        FileTypeInfo info{"stale", "stale"};
        EXPECT_FALSE(types.Lookup(extension, &info)) << extension;
        EXPECT_TRUE(info.description.empty() && info.icons.empty());
    }
}

TEST(CMimeFileTypes, MimeTypesForTheFilter)
{
    CMimeFileTypes types;
    std::string type;
    ASSERT_TRUE(types.MimeType("png", &type));
    EXPECT_EQ(type, "image/png");
    ASSERT_TRUE(types.MimeType("OGV", &type));
    EXPECT_EQ(type.rfind("video/", 0), 0u) << type;
    for (const std::string& extension : std::vector<std::string>{"xyz", "", "a/b"})
    {
        EXPECT_FALSE(types.MimeType(extension, &type)) << extension;
        EXPECT_TRUE(type.empty());
    }
}
