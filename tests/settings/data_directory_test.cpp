// The data folder rule and its creation.
#include "settings/data_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include "support/lib/scoped_umask.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::TempDir;

// Sets (or unsets) an environment variable for one test and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(DataDirectory, RuleTakesAppDataThenXdgThenHome) {
    EXPECT_EQ(DataDirectoryPathFrom("/a/roaming", "/x/data", "/home/u"), "/a/roaming/Tarnwick");
    EXPECT_EQ(DataDirectoryPathFrom(nullptr, "/x/data", "/home/u"), "/x/data/Tarnwick");
    EXPECT_EQ(DataDirectoryPathFrom(nullptr, nullptr, "/home/u"), "/home/u/.local/share/Tarnwick");
    EXPECT_EQ(DataDirectoryPathFrom(nullptr, nullptr, "/home/u/"), "/home/u/.local/share/Tarnwick");
}

TEST(DataDirectory, EmptyOrRelativeValuesAreIgnoredAndRootIsNeverTheFolder) {
    EXPECT_EQ(DataDirectoryPathFrom("", "", "/home/u"), "/home/u/.local/share/Tarnwick");
    EXPECT_EQ(DataDirectoryPathFrom(nullptr, "rel/data", "/home/u"),
              "/home/u/.local/share/Tarnwick");
    EXPECT_EQ(DataDirectoryPathFrom(nullptr, nullptr, "/"), "/.local/share/Tarnwick");
    std::string noHome = DataDirectoryPathFrom(nullptr, nullptr, nullptr);
    EXPECT_NE(noHome, "/");
    EXPECT_NE(noHome.find("Tarnwick"), std::string::npos);
}

TEST(DataDirectory, PathFollowsTheEnvironment) {
    ScopedEnv appData("APPDATA", "/srv/appdata");
    EXPECT_EQ(DataDirectoryPath(), "/srv/appdata/Tarnwick");
    {
        ScopedEnv noAppData("APPDATA", nullptr);
        ScopedEnv xdg("XDG_DATA_HOME", "/srv/xdg");
        EXPECT_EQ(DataDirectoryPath(), "/srv/xdg/Tarnwick");
        ScopedEnv noXdg("XDG_DATA_HOME", nullptr);
        ScopedEnv home("HOME", "/srv/home");
        EXPECT_EQ(DataDirectoryPath(), "/srv/home/.local/share/Tarnwick");
    }
}

TEST(DataDirectory, CreateMakesParentsAndIgnoresFailures) {
    TempDir dir;
    std::string nested = dir.File("a/b/Tarnwick");
    CreateDataDirectory(nested);
    EXPECT_TRUE(IsDirectory(nested));
    CreateDataDirectory(nested);  // exists already: nothing happens
    EXPECT_TRUE(IsDirectory(nested));

    test::WriteFileBytes(dir.File("file"), "x");
    CreateDataDirectory(dir.File("file/Tarnwick"));  // cannot be made; ignored
    EXPECT_FALSE(IsDirectory(dir.File("file/Tarnwick")));
}

// With a umask of 000 the folders would be writable by anyone, and a user could plant
// links in the data folder of a root service; with 077 no one else could read the logs.
TEST(DataDirectory, NewFoldersAre0755WhateverTheUmaskAndOldOnesKeepTheirs) {
    for (mode_t mask : {000, 077}) {
        TempDir dir;
        ASSERT_EQ(::mkdir(dir.File("old").c_str(), 0700), 0);
        test::ScopedUmask umask(mask);
        CreateDataDirectory(dir.File("old/a/Tarnwick"));
        EXPECT_EQ(test::ModeOf(dir.File("old")), 0700) << mask;
        EXPECT_EQ(test::ModeOf(dir.File("old/a")), 0755) << mask;
        EXPECT_EQ(test::ModeOf(dir.File("old/a/Tarnwick")), 0755) << mask;
    }
}

}  // namespace
}  // namespace qv
