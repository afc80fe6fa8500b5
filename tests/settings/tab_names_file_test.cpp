// The tab names file: defaults, partial files, line endings, cutting, round trips.
#include <gtest/gtest.h>

#include "settings/config_files.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TabNames Load(const TempDir& dir) {
    TabNames names;
    LoadTabNames(dir.path(), names);
    return names;
}

TEST(TabNamesFile, DefaultsWithoutAFile) {
    EXPECT_EQ(DefaultTabName(0), "Unnamed (1-5)");
    EXPECT_EQ(DefaultTabName(3), "Unnamed (16-20)");
    EXPECT_EQ(DefaultTabName(19), "Unnamed (96-100)");
    TempDir dir;
    TabNames names = Load(dir);
    for (int i = 0; i < kTabCount; ++i) {
        EXPECT_EQ(names[i], DefaultTabName(i));
    }
}

TEST(TabNamesFile, ThreeLinesRenameTheFirstThreeTabs) {
    TempDir dir;
    WriteFileBytes(dir.File("tabnames.dat"), "Core\r\r\nBranch\r\r\n\r\r\n");
    TabNames names = Load(dir);
    EXPECT_EQ(names[0], "Core");
    EXPECT_EQ(names[1], "Branch");
    EXPECT_EQ(names[2], "");
    EXPECT_EQ(names[3], "Unnamed (16-20)");
    EXPECT_EQ(names[19], "Unnamed (96-100)");
}

TEST(TabNamesFile, AllLineEndsLoadTheSame) {
    for (const char* end : {"\n", "\r\n", "\r\r\n"}) {
        TempDir dir;
        WriteFileBytes(dir.File("tabnames.dat"), std::string("One") + end + "Two" + end);
        TabNames names = Load(dir);
        EXPECT_EQ(names[0], "One");
        EXPECT_EQ(names[1], "Two");
        EXPECT_EQ(names[2], "Unnamed (11-15)");
    }
}

TEST(TabNamesFile, SavesAllTwentyAndReloadsByteForByte) {
    TabNames names;
    for (int i = 0; i < kTabCount; ++i) {
        names[i] = DefaultTabName(i);
    }
    names[0] = "Servers";
    names[4] = "Ümlaut Büro";
    TempDir dir;
    ASSERT_TRUE(SaveTabNames(dir.path(), names));
    std::string bytes = ReadFileBytes(dir.File("tabnames.dat"));
    std::string expected;
    for (const std::string& n : names) {
        expected += n + "\r\r\n";
    }
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(Load(dir), names);

    TempDir again;
    ASSERT_TRUE(SaveTabNames(again.path(), Load(dir)));
    EXPECT_EQ(ReadFileBytes(again.File("tabnames.dat")), bytes);
}

TEST(TabNamesFile, LinesAfterTheTwentiethAreNotRead) {
    std::string text;
    for (int i = 0; i < 25; ++i) {
        text += "T" + std::to_string(i) + "\n";
    }
    TempDir dir;
    WriteFileBytes(dir.File("tabnames.dat"), text);
    TabNames names = Load(dir);
    EXPECT_EQ(names[19], "T19");
}

TEST(TabNamesFile, LongNamesAreCutAtCharacters) {
    std::string wide;
    for (int i = 0; i < 25; ++i) {
        wide += "\xC3\x84";  // Ä, two bytes
    }
    TempDir dir;
    WriteFileBytes(dir.File("tabnames.dat"), std::string(30, 'x') + "\r\r\n" + wide + "\r\r\n");
    TabNames names = Load(dir);
    EXPECT_EQ(names[0], std::string(19, 'x'));
    EXPECT_EQ(names[1], wide.substr(0, 38));
}

TEST(TabNamesFile, ControlCharactersAndNulAreDropped) {
    TempDir dir;
    // NUL, ESC, TAB, DEL and the C1 control U+009B among the letters; Ä stays.
    const std::string line = std::string("Co\0re", 5) + "\x1b[31m\tR\x7F\xC2\x9B\xC3\x84";
    // Twenty NULs before a name do not cost it its 19 characters.
    WriteFileBytes(dir.File("tabnames.dat"),
                   line + "\r\r\n" + std::string(20, '\0') + std::string(19, 'y') + "z\r\r\n");
    TabNames names = Load(dir);
    EXPECT_EQ(names[0], "Core[31mR\xC3\x84");
    EXPECT_EQ(names[1], std::string(19, 'y'));
    EXPECT_EQ(names[2], "Unnamed (11-15)");

    // What is left after a control goes may form another one; a saved name reads back
    // as it was saved (found by the fuzz target).
    WriteFileBytes(dir.File("tabnames.dat"),
                   "a\xC2\x01\x80"
                   "b\xC2\xC2\x88\x88"
                   "c\r\r\n");
    names = Load(dir);
    EXPECT_EQ(names[0], "abc");
    ASSERT_TRUE(SaveTabNames(dir.path(), names));
    EXPECT_EQ(Load(dir), names);
}

TEST(TabNamesFile, LineBreaksInANameDoNotShiftTheOthers) {
    TabNames names;
    for (int i = 0; i < kTabCount; ++i) {
        names[i] = "N" + std::to_string(i);
    }
    names[1] = "first\nsecond";
    TempDir dir;
    ASSERT_TRUE(SaveTabNames(dir.path(), names));
    TabNames back = Load(dir);
    EXPECT_EQ(back[1], "first");
    EXPECT_EQ(back[2], "N2");
    EXPECT_EQ(back[19], "N19");
}

}  // namespace
}  // namespace qv
