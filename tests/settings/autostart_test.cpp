// The autostart entry: writing, finding and removing it in the user's and the machine's
// folders, and the quoting of its Exec line.
#include "settings/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::TempDir;

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

struct AutostartFolders {
    TempDir dir;
    std::string system = dir.File("etc/xdg/autostart");
    std::string user = dir.File("home/.config/autostart");
};

TEST(Autostart, UserEntryIsWrittenFoundAndDeleted) {
    AutostartFolders f;
    Autostart autostart(f.system, f.user, /*asRoot=*/false);
    EXPECT_FALSE(autostart.Exists());

    ASSERT_EQ(autostart.Write("/opt/quorvane/bin/Quorvane"), 0);
    std::string entryPath = f.user + "/Brevix.desktop";
    EXPECT_EQ(autostart.EntryPath(), entryPath);
    std::string entry = ReadFileBytes(entryPath);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=/opt/quorvane/bin/Quorvane\n"), std::string::npos);
    EXPECT_FALSE(FileExists(f.system + "/Brevix.desktop"));
    EXPECT_TRUE(autostart.Exists());

    autostart.Delete();
    EXPECT_FALSE(FileExists(entryPath));
    EXPECT_FALSE(autostart.Exists());
    autostart.Delete();  // nothing to delete: ignored
}

TEST(Autostart, RootWritesTheMachineEntryAndEveryoneSeesIt) {
    AutostartFolders f;
    Autostart root(f.system, f.user, /*asRoot=*/true);
    ASSERT_EQ(root.Write("/usr/bin/Quorvane"), 0);
    EXPECT_TRUE(FileExists(f.system + "/Brevix.desktop"));
    EXPECT_FALSE(FileExists(f.user + "/Brevix.desktop"));

    // A user's program finds the machine's entry too, but removes only its own.
    Autostart user(f.system, f.user, /*asRoot=*/false);
    EXPECT_TRUE(user.Exists());
    user.Delete();
    EXPECT_TRUE(user.Exists());

    root.Delete();
    EXPECT_FALSE(root.Exists());
    EXPECT_FALSE(user.Exists());
}

TEST(Autostart, WriteReplacesAnOlderEntry) {
    AutostartFolders f;
    Autostart autostart(f.system, f.user, false);
    ASSERT_EQ(autostart.Write("/old/Quorvane"), 0);
    ASSERT_EQ(autostart.Write("/new/Quorvane"), 0);
    std::string entry = ReadFileBytes(f.user + "/Brevix.desktop");
    EXPECT_EQ(entry.find("/old/"), std::string::npos);
    EXPECT_NE(entry.find("Exec=/new/Quorvane\n"), std::string::npos);
}

TEST(Autostart, WriteFailuresReturnTheError) {
    AutostartFolders f;
    test::WriteFileBytes(f.dir.File("plainfile"), "x");
    Autostart blocked(f.system, f.dir.File("plainfile/autostart"), false);
    int error = blocked.Write("/usr/bin/Quorvane");
    EXPECT_NE(error, 0);
    EXPECT_FALSE(blocked.Exists());

    Autostart autostart(f.system, f.user, false);
    EXPECT_EQ(autostart.Write(""), EINVAL);
    EXPECT_FALSE(autostart.Exists());
}

TEST(Autostart, ExecValueQuotesAndEscapesLikeDesktopEntries) {
    EXPECT_EQ(DesktopExecValue("/usr/bin/Quorvane"), "/usr/bin/Quorvane");
    EXPECT_EQ(DesktopExecValue("/opt/My Apps/Quorvane"), "\"/opt/My Apps/Quorvane\"");
    // Inside quotes " ` $ \ take a backslash; then every backslash is doubled once more
    // by the string rules, and % is doubled so it does not start a field code.
    EXPECT_EQ(DesktopExecValue("/opt/a$b/Q"), "\"/opt/a\\\\$b/Q\"");
    EXPECT_EQ(DesktopExecValue("/opt/a\\b/Q"), "\"/opt/a\\\\\\\\b/Q\"");
    EXPECT_EQ(DesktopExecValue("/opt/say \"hi\"/Q"), "\"/opt/say \\\\\"hi\\\\\"/Q\"");
    EXPECT_EQ(DesktopExecValue("/opt/100%/Q"), "/opt/100%%/Q");
    EXPECT_EQ(DesktopExecValue("/opt/x#y/Q"), "\"/opt/x#y/Q\"");
    // A line break would end the Exec line; it is written as an escape instead.
    EXPECT_EQ(DesktopExecValue("/opt/a\nb/Q"), "\"/opt/a\\nb/Q\"");
}

TEST(Autostart, DefaultUserFolderFollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", "/srv/cfg", 1);
    EXPECT_EQ(DefaultUserAutostartDir(), "/srv/cfg/autostart");
    unsetenv("XDG_CONFIG_HOME");
    std::string fallback = DefaultUserAutostartDir();
    if (old != nullptr) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    }
    EXPECT_GE(fallback.size(), std::string(".config/autostart").size());
    EXPECT_EQ(fallback.compare(fallback.size() - 17, 17, ".config/autostart"), 0);
}

}  // namespace
}  // namespace qv
