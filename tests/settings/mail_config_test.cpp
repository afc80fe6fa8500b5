// quorvane.conf's [mail] section: what is read back, the file's privacy, and the other
// groups of the file that a save must keep.
#include "settings/mail_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/lib/scoped_umask.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using ::testing::HasSubstr;

const MailSecurityOptions kLogin{MailSecurity::StartTls, "me@example.test", "p=ss #;\\ word ",
                                 "/etc/ssl/home-ca.pem"};

TEST(MailConfigTest, SavedOptionsReadBackFromAPrivateFileKeepingOtherGroups) {
    test::TempDir dir;
    const std::string path = dir.File(kOptionsFileName);
    test::WriteFileBytes(path,
                         "# written by hand\n[metrics]\nlisten=127.0.0.1:9464\n\n"
                         "[mail]\nsecurity=none\n");
    chmod(path.c_str(), 0644);
    test::ScopedUmask open(0);
    std::string error;
    ASSERT_TRUE(SaveMailConfig(dir.path(), kLogin, &error)) << error;
    EXPECT_EQ(test::ModeOf(path), 0600);
    const std::string text = test::ReadFileBytes(path);
    EXPECT_THAT(text, HasSubstr("# written by hand\n"));
    EXPECT_THAT(text, HasSubstr("[metrics]\nlisten=127.0.0.1:9464\n"));

    MailConfigLoad load = LoadMailConfig(dir.path());
    EXPECT_EQ(load.options, kLogin);
    EXPECT_EQ(load.warning, "");

    // Saved again (the Options dialog's second OK): still one [mail] group.
    ASSERT_TRUE(SaveMailConfig(dir.path(), MailSecurityOptions{}, &error));
    EXPECT_EQ(LoadMailConfig(dir.path()).options, MailSecurityOptions{});
    const std::string again = test::ReadFileBytes(path);
    EXPECT_EQ(again.find("[mail]"), again.rfind("[mail]"));
    EXPECT_THAT(again, HasSubstr("listen=127.0.0.1:9464"));
}

TEST(MailConfigTest, WhatCannotBeUsedIsSaidAndLeftOut) {
    struct Case {
        const char* what;
        const char* text;
        mode_t mode;
        MailSecurityOptions expected;
        const char* warning;  // a part of it; "" for none
    };
    const Case cases[] = {
        {"no [mail] group", "[metrics]\nlisten=:9464\n", 0644, {}, ""},
        {"password readable by others",
         "[mail]\nsecurity=tls\nuser=u\npassword=p\n",
         0640,
         {MailSecurity::Tls, "u", "", ""},
         "the password is not used. Make the file private: chmod 600 "},
        {"no password, so the mode does not matter", "[mail]\nsecurity=tls\nuser=u\n", 0644,
         MailSecurityOptions{MailSecurity::Tls, "u", "", ""}, ""},
        {"unknown security", "[mail]\nsecurity=ssl\n", 0600, {}, "unknown security \"ssl\""},
        {"not a key file", "security=tls\n", 0600, {}, "mail is sent without security"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string path = dir.File(kOptionsFileName);
        test::WriteFileBytes(path, c.text);
        chmod(path.c_str(), c.mode);
        MailConfigLoad load = LoadMailConfig(dir.path());
        EXPECT_EQ(load.options, c.expected);
        if (*c.warning == '\0') {
            EXPECT_EQ(load.warning, "");
        } else {
            EXPECT_THAT(load.warning, HasSubstr(c.warning));
        }
    }
}

TEST(MailConfigTest, AFileThatCannotBeParsedIsNotRewritten) {
    test::TempDir dir;
    const std::string path = dir.File(kOptionsFileName);
    const std::string broken = "[metrics]\nlisten=:9464\nthis line is no key\n";
    test::WriteFileBytes(path, broken);
    std::string error;
    EXPECT_FALSE(SaveMailConfig(dir.path(), kLogin, &error));
    EXPECT_THAT(error, HasSubstr("not rewritten"));
    EXPECT_EQ(test::ReadFileBytes(path), broken);
    // A link in its place is neither read nor written through.
    test::TempDir other;
    unlink(path.c_str());
    ASSERT_EQ(symlink(other.File("target").c_str(), path.c_str()), 0);
    EXPECT_FALSE(LoadMailConfig(dir.path()).warning.empty());
    EXPECT_FALSE(SaveMailConfig(dir.path(), kLogin, &error));
    EXPECT_EQ(test::ModeOf(other.File("target")), -1);
}

}  // namespace
}  // namespace qv
