// The two settings files: defaults and placeholders, byte-exact round trips, lines cut
// short, the service program's dropped fields and the limits of the text fields.
#include <gtest/gtest.h>

#include "settings/config_files.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

const char kProgram[] = "/opt/quorvane/bin/Quorvane";

Settings Load(const TempDir& dir, Program program = Program::Desktop) {
    Settings s;
    LoadSettings(dir.path(), s, program, kProgram);
    return s;
}

void ExpectDefaultNotify(const NotifySettings& n) {
    EXPECT_EQ(n.emailEnabled, 0);
    EXPECT_EQ(n.emailAfter, 60);
    EXPECT_EQ(n.emailAddress, "user@localhost");
    EXPECT_EQ(n.smtpServer, "localhost");
    EXPECT_EQ(n.smtpPort, 25);
    EXPECT_EQ(n.soundEnabled, 0);
    EXPECT_EQ(n.soundAfter, 60);
    EXPECT_EQ(n.soundFile, "/opt/quorvane/share/quorvane/ring.mp3");
    EXPECT_EQ(n.trayEnabled, 0);
    EXPECT_EQ(n.trayAfter, 60);
}

TEST(SettingsFiles, MissingFilesGiveDefaultsAndPlaceholders) {
    TempDir dir;
    Settings s;
    s.general.serviceMode = 1;
    s.icmp.emailAfter = 7;
    LoadSettings(dir.path(), s, Program::Desktop, kProgram);
    ExpectDefaultNotify(s.icmp);
    ExpectDefaultNotify(s.tcp);
    EXPECT_EQ(s.general.tracertAfter, 0);
    EXPECT_EQ(s.general.dailyReports, 0);
    EXPECT_EQ(s.general.serviceMode, 0);
    EXPECT_FALSE(s.general.launchOnStartup);
}

TEST(SettingsFiles, DefaultSoundFileSitsBesideTheProgram) {
    EXPECT_EQ(DefaultSoundFile("/work/build/Quorvane"), "/work/build/ring.mp3");
    EXPECT_EQ(DefaultSoundFile("/usr/bin/Quorvane"), "/usr/share/quorvane/ring.mp3");
    EXPECT_EQ(DefaultSoundFile("/opt/q/bin/Quorvane"), "/opt/q/share/quorvane/ring.mp3");
    EXPECT_EQ(DefaultSoundFile("/work/sbin/Quorvane"), "/work/sbin/ring.mp3");
    EXPECT_EQ(DefaultSoundFile("Quorvane"), "Quorvane");
    EXPECT_EQ(DefaultSoundFile("/Quorvane"), "/Quorvane");  // no "/" after the first character
    EXPECT_EQ(DefaultSoundFile("/opt/C#/Q"), "/opt/C#/ring.mp3");
}

TEST(SettingsFiles, SaveWritesBothLinesAndReloadsTheSame) {
    Settings s;
    SetDefaultSettings(s, kProgram);
    s.icmp = {
        1, 30, "ops@example.org", "mail.example.org", 2525, 1, 45, "/home/u/My Sounds/alarm.mp3",
        1, 20};
    s.tcp = {0, 5, "_", "_", 587, 1, 3, "", 0, 10};
    s.general.dailyReports = 1;
    s.general.serviceMode = 1;
    s.general.tracertAfter = 90;

    TempDir dir;
    ASSERT_TRUE(SaveSettings(dir.path(), s));
    const std::string conf02 =
        "1 30 ops@example.org mail.example.org 1 45 /home/u/My#Sounds/alarm.mp3 2525 1 20 1 1 90"
        "\r\r\n";
    const std::string conf03 = "0 5 _ _ 1 3 _ 587 0 10\r\r\n";
    EXPECT_EQ(ReadFileBytes(dir.File("conf02.dat")), conf02);
    EXPECT_EQ(ReadFileBytes(dir.File("conf03.dat")), conf03);

    Settings back = Load(dir);
    EXPECT_EQ(back.icmp.emailAddress, "ops@example.org");
    EXPECT_EQ(back.icmp.soundFile, "/home/u/My Sounds/alarm.mp3");
    EXPECT_EQ(back.icmp.smtpPort, 2525);
    EXPECT_EQ(back.icmp.trayEnabled, 1);
    EXPECT_EQ(back.icmp.trayAfter, 20);
    EXPECT_EQ(back.general.dailyReports, 1);
    EXPECT_EQ(back.general.serviceMode, 1);
    EXPECT_EQ(back.general.tracertAfter, 90);
    // The empty sound file came back as "_" and the fields after it from their places.
    EXPECT_EQ(back.tcp.emailAddress, "_");
    EXPECT_EQ(back.tcp.soundFile, "_");
    EXPECT_EQ(back.tcp.smtpPort, 587);
    EXPECT_EQ(back.tcp.trayAfter, 10);

    TempDir again;
    ASSERT_TRUE(SaveSettings(again.path(), back));
    EXPECT_EQ(ReadFileBytes(again.File("conf02.dat")), conf02);
    EXPECT_EQ(ReadFileBytes(again.File("conf03.dat")), conf03);
}

TEST(SettingsFiles, LineCutAfterTheEighthFieldKeepsTheRestAtDefaults) {
    TempDir dir;
    WriteFileBytes(dir.File("conf02.dat"), "1 30 a@b.c srv 1 45 /s.mp3 2525\r\r\n");
    WriteFileBytes(dir.File("conf03.dat"), "1 9 a@b.c srv 1 4 /t.mp3 26\r\r\n");
    Settings s = Load(dir);
    EXPECT_EQ(s.icmp.emailEnabled, 1);
    EXPECT_EQ(s.icmp.emailAfter, 30);
    EXPECT_EQ(s.icmp.emailAddress, "a@b.c");
    EXPECT_EQ(s.icmp.smtpServer, "srv");
    EXPECT_EQ(s.icmp.soundEnabled, 1);
    EXPECT_EQ(s.icmp.soundAfter, 45);
    EXPECT_EQ(s.icmp.soundFile, "/s.mp3");
    EXPECT_EQ(s.icmp.smtpPort, 2525);
    EXPECT_EQ(s.icmp.trayEnabled, 0);
    EXPECT_EQ(s.icmp.trayAfter, 60);
    EXPECT_EQ(s.general.dailyReports, 0);
    EXPECT_EQ(s.general.serviceMode, 0);
    EXPECT_EQ(s.general.tracertAfter, 0);
    EXPECT_EQ(s.tcp.smtpPort, 26);
    EXPECT_EQ(s.tcp.trayAfter, 60);
}

TEST(SettingsFiles, ParsingStopsAtTheFirstUnreadableField) {
    TempDir dir;
    WriteFileBytes(dir.File("conf02.dat"), "1 30 a@b.c srv yes 45 /s.mp3 2525 1 20 1 1 90\r\r\n");
    Settings s = Load(dir);
    EXPECT_EQ(s.icmp.smtpServer, "srv");
    EXPECT_EQ(s.icmp.soundEnabled, 0);
    EXPECT_EQ(s.icmp.soundAfter, 60);
    EXPECT_EQ(s.icmp.smtpPort, 25);
    EXPECT_EQ(s.general.tracertAfter, 0);

    WriteFileBytes(dir.File("conf02.dat"),
                   "\r\r\n1 30 a@b.c srv 1 45 /s.mp3 2525 1 20 1 1 90\r\r\n");
    Settings onlyFirstLine = Load(dir);
    ExpectDefaultNotify(onlyFirstLine.icmp);
    EXPECT_EQ(onlyFirstLine.general.tracertAfter, 0);
}

TEST(SettingsFiles, ServiceReadsButDropsTrayAndServiceModeFields) {
    TempDir dir;
    WriteFileBytes(dir.File("conf02.dat"), "0 60 a@b.c srv 0 60 /s.mp3 25 1 99 1 1 7\r\r\n");
    WriteFileBytes(dir.File("conf03.dat"), "0 60 a@b.c srv 0 60 /s.mp3 25 1 98\r\r\n");
    Settings service = Load(dir, Program::Service);
    EXPECT_EQ(service.icmp.trayEnabled, 0);
    EXPECT_EQ(service.icmp.trayAfter, 60);
    EXPECT_EQ(service.general.serviceMode, 0);
    EXPECT_EQ(service.general.dailyReports, 1);  // read from its own place
    EXPECT_EQ(service.general.tracertAfter, 7);
    EXPECT_EQ(service.tcp.trayEnabled, 0);
    EXPECT_EQ(service.tcp.trayAfter, 60);

    Settings desktop = Load(dir, Program::Desktop);
    EXPECT_EQ(desktop.icmp.trayEnabled, 1);
    EXPECT_EQ(desktop.icmp.trayAfter, 99);
    EXPECT_EQ(desktop.general.serviceMode, 1);
    EXPECT_EQ(desktop.general.tracertAfter, 7);
    EXPECT_EQ(desktop.tcp.trayAfter, 98);
}

TEST(SettingsFiles, HashInTheSoundFileReadsAsSpace) {
    TempDir dir;
    WriteFileBytes(dir.File("conf02.dat"), "0 60 a b 0 60 /snd/x#1.mp3 25 0 60 0 0 0\r\r\n");
    EXPECT_EQ(Load(dir).icmp.soundFile, "/snd/x 1.mp3");
}

TEST(SettingsFiles, LfAndCrLfFilesLoadTheSame) {
    for (const char* end : {"\n", "\r\n", "\r\r\n"}) {
        TempDir dir;
        WriteFileBytes(dir.File("conf02.dat"),
                       std::string("1 30 a@b.c srv 1 45 /s.mp3 2525 1 20 1 0 90") + end);
        WriteFileBytes(dir.File("conf03.dat"),
                       std::string("1 9 a@b.c srv 1 4 /t.mp3 26 1 5") + end);
        Settings s = Load(dir);
        EXPECT_EQ(s.general.tracertAfter, 90);
        EXPECT_EQ(s.icmp.trayAfter, 20);
        EXPECT_EQ(s.tcp.trayAfter, 5);
        EXPECT_EQ(s.tcp.soundFile, "/t.mp3");
    }
}

TEST(SettingsFiles, LongTextsAreCutToTheirFields) {
    std::string longMail = std::string(150, 'm') + "@x";
    std::string hugeServer = std::string(300, 'n');
    std::string longSound = "/" + std::string(300, 's');
    TempDir dir;
    WriteFileBytes(dir.File("conf02.dat"),
                   "1 60 " + longMail + " " + hugeServer + " 0 60 /s.mp3 25 0 60 1 0 5\r\r\n");
    WriteFileBytes(dir.File("conf03.dat"), "1 60 a b 0 60 " + longSound + " 26 0 7\r\r\n");
    Settings desktop = Load(dir, Program::Desktop);
    EXPECT_EQ(desktop.icmp.emailAddress, std::string(99, 'm'));
    EXPECT_EQ(desktop.icmp.smtpServer, std::string(99, 'n'));
    EXPECT_EQ(desktop.general.tracertAfter, 5);  // the fields after them still load
    EXPECT_EQ(desktop.tcp.soundFile, longSound.substr(0, 255));
    EXPECT_EQ(desktop.tcp.smtpPort, 26);
    EXPECT_EQ(desktop.tcp.trayAfter, 7);

    Settings service = Load(dir, Program::Service);
    EXPECT_EQ(service.icmp.emailAddress, longMail);
    EXPECT_EQ(service.icmp.smtpServer, std::string(255, 'n'));
    EXPECT_EQ(service.general.tracertAfter, 5);
    EXPECT_EQ(service.tcp.soundFile, longSound.substr(0, 255));
}

TEST(SettingsFiles, CutsNeverSplitACharacter) {
    std::string mail;
    for (int i = 0; i < 120; ++i) {
        mail += "\xC3\xA9";  // é
    }
    TempDir dir;
    WriteFileBytes(dir.File("conf03.dat"), "1 60 " + mail + " srv\r\r\n");
    Settings s = Load(dir);
    EXPECT_EQ(s.tcp.emailAddress, mail.substr(0, 99 * 2));
}

TEST(SettingsFiles, WhiteSpaceInTextsNeverShiftsTheFields) {
    Settings s;
    SetDefaultSettings(s, kProgram);
    s.icmp.emailAddress = "two words@x";
    s.icmp.smtpServer = "mail\tserver";
    s.icmp.soundFile = "/a b\tc.mp3";
    s.general.tracertAfter = 33;
    TempDir dir;
    ASSERT_TRUE(SaveSettings(dir.path(), s));
    Settings back = Load(dir);
    EXPECT_EQ(back.icmp.emailAddress, "two_words@x");
    EXPECT_EQ(back.icmp.smtpServer, "mail_server");
    EXPECT_EQ(back.icmp.soundFile, "/a b c.mp3");
    EXPECT_EQ(back.general.tracertAfter, 33);
}

TEST(SettingsFiles, FailedSaveKeepsThePreviousFiles) {
    TempDir dir;
    WriteFileBytes(dir.File("conf02.dat"), "old02\r\r\n");
    Settings s;
    SetDefaultSettings(s, kProgram);
    EXPECT_FALSE(SaveSettings(dir.File("missing"), s));
    EXPECT_EQ(ReadFileBytes(dir.File("conf02.dat")), "old02\r\r\n");
}

}  // namespace
}  // namespace qv
