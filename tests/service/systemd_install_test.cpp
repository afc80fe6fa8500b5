// Installing and removing the service: the unit file and the systemctl/loginctl calls.
#include "service/systemd_install.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fake_runner.h"
#include "support/lib/fake_clock.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::RecordingRunner;
using test::TempDir;
using test::WriteFileBytes;
using ::testing::ElementsAre;

TEST(ExecStartQuotingTest, PlainWordsAreOnlyQuoted) {
    EXPECT_EQ(QuoteExecProgram("/opt/halvoric/bin/HalvoricSvc"),
              "\"/opt/halvoric/bin/HalvoricSvc\"");
    EXPECT_EQ(QuoteExecArgument("/data/My Hosts"), "\"/data/My Hosts\"");
    EXPECT_EQ(QuoteExecArgument(""), "\"\"");
}

TEST(ExecStartQuotingTest, ArgumentEscapesEverythingSystemdWouldInterpret) {
    EXPECT_EQ(QuoteExecArgument("/d/100%"), "\"/d/100%%\"");
    EXPECT_EQ(QuoteExecArgument("/d/$HOME"), "\"/d/$$HOME\"");
    EXPECT_EQ(QuoteExecArgument("/d/a\\b"), "\"/d/a\\\\b\"");
    EXPECT_EQ(QuoteExecArgument("/d/\"q\""), "\"/d/\\\"q\\\"\"");
    EXPECT_EQ(QuoteExecArgument("/d/%h$$\\\""), "\"/d/%%h$$$$\\\\\\\"\"");
    // A raw line break would end the unit's line.
    EXPECT_EQ(QuoteExecArgument("/d/a\nb\tc\x7f"), "\"/d/a\\x0ab\\x09c\\x7f\"");
}

TEST(ExecStartQuotingTest, ProgramPathDoublesOnlyPercentAndRefusesWhatSystemdRefuses) {
    // systemd takes the executable path literally apart from specifiers.
    EXPECT_EQ(QuoteExecProgram("/o/50% $x/HalvoricSvc"), "\"/o/50%% $x/HalvoricSvc\"");
    EXPECT_EQ(QuoteExecProgram("relative/HalvoricSvc"), std::nullopt);
    EXPECT_EQ(QuoteExecProgram(""), std::nullopt);
    EXPECT_EQ(QuoteExecProgram("/o/\"q\"/HalvoricSvc"), std::nullopt);
    EXPECT_EQ(QuoteExecProgram("/o/it's/HalvoricSvc"), std::nullopt);
    EXPECT_EQ(QuoteExecProgram("/o/a\\b/HalvoricSvc"), std::nullopt);
    EXPECT_EQ(QuoteExecProgram("/o/a\nb/HalvoricSvc"), std::nullopt);
}

TEST(UnitTextTest, SystemUnitRunsTheProgramWithTheDataFolderAsItsOwnerOnceOnline) {
    EXPECT_EQ(UnitText("/usr/bin/HalvoricSvc", "/var/lib/Tarnwick", true, "alice"),
              "[Unit]\n"
              "Description=Marrowind\n"
              "Wants=network-online.target\n"
              "After=network-online.target\n"
              "\n[Service]\n"
              "Type=notify\n"
              "User=alice\n"
              "AmbientCapabilities=CAP_NET_RAW\n"
              "ExecStart=\"/usr/bin/HalvoricSvc\" \"/var/lib/Tarnwick\"\n"
              "Restart=on-failure\n"
              "RestartSec=5\n"
              "TimeoutStopSec=30\n" +
                  SandboxLines("/var/lib/Tarnwick", true) +
                  "\n[Install]\n"
                  "WantedBy=multi-user.target\n");
}

// The packagers' template is made by the build from the program's own text; filled in,
// it is the unit the program writes, special characters and all.
TEST(UnitTextTest, PackagedTemplateIsTheUnitTheProgramWrites) {
    const std::string shipped = ReadFileBytes(QV_UNIT_TEMPLATE);
    EXPECT_EQ(shipped, UnitTemplate());
    for (const std::string dir : {"/home/alice/Tarnwick", "/home/a/50% $x y"}) {
        SCOPED_TRACE(dir);
        const std::string program = "/opt/q 1/HalvoricSvc";
        EXPECT_EQ(FillUnitTemplate(shipped, *QuoteExecProgram(program), QuoteExecArgument(dir),
                                   "alice", QuoteExecProgram(dir).value_or("")),
                  UnitText(program, dir, true, "alice"));
    }
}

TEST(UnitTextTest, SandboxKeepsTheDataFolderWritableAndHomesAsFarAsItAllows) {
    struct Case {
        const char* dir;
        const char* lines;  // the file-system lines of a system unit, or nothing
    } cases[] = {
        {"/var/lib/Tarnwick",
         "ProtectSystem=strict\nReadWritePaths=\"/var/lib/Tarnwick\"\n"
         "ProtectHome=yes\n"},
        {"/home/al ice/.local/share/Tarnwick",
         "ProtectSystem=strict\nReadWritePaths=\"/home/al ice/.local/share/Tarnwick\"\n"
         "ProtectHome=read-only\n"},
        {"/root/50%/T",
         "ProtectSystem=strict\nReadWritePaths=\"/root/50%%/T\"\n"
         "ProtectHome=read-only\n"},
        {"/srv/a\"b", nullptr},
        {"/srv/a\\b", nullptr},
        {"/srv/a\nb", nullptr},
    };
    for (const Case& c : cases) {
        const std::string system = SandboxLines(c.dir, true);
        const size_t at = system.find("ProtectSystem=");
        if (c.lines == nullptr) {
            EXPECT_EQ(at, std::string::npos) << c.dir;
        } else {
            EXPECT_EQ(system.substr(at == std::string::npos ? 0 : at), c.lines) << c.dir;
        }
        EXPECT_NE(system.find("NoNewPrivileges=yes\n"), std::string::npos);
        // A user manager gets only what needs no namespaces and no capabilities.
        const std::string user = SandboxLines(c.dir, false);
        EXPECT_NE(user.find("RestrictAddressFamilies="), std::string::npos);
        for (const char* systemOnly : {"Protect", "Private", "Capabilit", "ReadWrite"}) {
            EXPECT_EQ(user.find(systemOnly), std::string::npos) << systemOnly;
        }
    }
}

TEST(UnitTextTest, SystemdRatesTheSystemUnitsSandboxOkOrBetter) {
    if (!ProgramExists("systemd-analyze")) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    TempDir dir;
    const std::string unit = dir.File("halvoric.service");
    WriteFileBytes(unit, *UnitText("/usr/bin/HalvoricSvc", "/home/alice/Tarnwick", true, "alice"));
    SystemProcessRunner runner;
    ProcessResult result =
        runner.Run({"systemd-analyze", "security", "--offline=yes", "--threshold=39", unit});
    ASSERT_EQ(result.startError, 0);
    // The exposure is 0.0 (none) to 10.0; up to 3.9 systemd calls it "OK" or better.
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("Overall exposure level"), std::string::npos) << result.output;
}

TEST(UnitTextTest, UserUnitIsWantedByTheDefaultTargetAndEscapesBothPaths) {
    const std::string text =
        UnitText("/home/a/50% $off/HalvoricSvc", "/home/a/$data \"x\"", false).value_or("");
    EXPECT_NE(
        text.find("ExecStart=\"/home/a/50%% $off/HalvoricSvc\" \"/home/a/$$data \\\"x\\\"\"\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\nWantedBy=default.target\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nRestart=on-failure\n"), std::string::npos) << text;
    // A user manager can neither see the system's targets nor grant capabilities.
    for (const char* systemOnly : {"multi-user", "network-online", "User=", "Capabilities"}) {
        EXPECT_EQ(text.find(systemOnly), std::string::npos) << systemOnly;
    }
}

TEST(UnitTextTest, SystemdAcceptsTheUnitWithSpecialCharactersInBothPaths) {
    if (!ProgramExists("systemd-analyze")) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    TempDir dir;
    const std::string programDir = dir.File("bin 50%n $x");
    std::filesystem::create_directories(programDir);
    const std::string program = programDir + "/HalvoricSvc";
    std::filesystem::copy_file("/bin/true", program);
    const std::optional<std::string> text =
        UnitText(program, dir.File("data %h $HOME \\ \"q\"\n"), true, "root");
    ASSERT_TRUE(text.has_value());
    WriteFileBytes(dir.File("halvoric.service"), *text);

    SystemProcessRunner runner;
    ProcessResult result =
        runner.Run({"systemd-analyze", "verify", "--man=no", dir.File("halvoric.service")});
    ASSERT_EQ(result.startError, 0);
    EXPECT_EQ(result.exitCode, 0) << result.output << *text;
    // A folder a path list can hold: the sandbox's ReadWritePaths= reads as well.
    const std::string listable = dir.File("data 50%n $x");
    std::filesystem::create_directories(listable);
    WriteFileBytes(dir.File("listable.service"), *UnitText(program, listable, true, "root"));
    result = runner.Run({"systemd-analyze", "verify", "--man=no", dir.File("listable.service")});
    EXPECT_EQ(result.exitCode, 0) << result.output;

    // The same check fails when the program path is not escaped.
    std::string unescaped = *text;
    unescaped.replace(unescaped.find("50%%n"), 5, "50%n");
    WriteFileBytes(dir.File("halvoric.service"), unescaped);
    result = runner.Run({"systemd-analyze", "verify", "--man=no", dir.File("halvoric.service")});
    EXPECT_NE(result.exitCode, 0) << result.output;
}

TEST(UserUnitDirectoryTest, FollowsXdgConfigHomeElseHome) {
    EXPECT_EQ(UserUnitDirectory("/cfg", "/home/a"), "/cfg/systemd/user");
    EXPECT_EQ(UserUnitDirectory(nullptr, "/home/a"), "/home/a/.config/systemd/user");
    EXPECT_EQ(UserUnitDirectory("", "/home/a"), "/home/a/.config/systemd/user");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    EXPECT_EQ(UserUnitDirectory("cfg", "/home/a"), "/home/a/.config/systemd/user");
}

class InstallTest : public ::testing::Test {
  protected:
    SystemdSeams Seams(bool systemScope) {
        SystemdSeams seams{runner, clock};
        seams.unitDirectory = units.path() + "/systemd/system";
        seams.systemScope = systemScope;
        seams.userName = "alice";
        seams.programPath = "/opt/q/HalvoricSvc";
        return seams;
    }
    std::string UnitPath() const { return units.path() + "/systemd/system/halvoric.service"; }
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& e :
             std::filesystem::directory_iterator(units.path() + "/systemd/system")) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    TempDir units;
    FakeClock clock;
    RecordingRunner runner{&clock};
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(InstallTest, SystemInstallWritesTheUnitReloadsAndEnables) {
    ASSERT_TRUE(InstallService(Seams(true), "/srv/data", out, err));
    EXPECT_EQ(ReadFileBytes(UnitPath()),
              *UnitText("/opt/q/HalvoricSvc", "/srv/data", true, UnitUserOf("/srv/data")));
    EXPECT_THAT(runner.Lines(),
                ElementsAre("systemctl daemon-reload", "systemctl enable halvoric.service"));
    EXPECT_THAT(FolderEntries(), ElementsAre("halvoric.service"));  // no temp file left
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
}

TEST_F(InstallTest, UserInstallUsesTheUserManagerAndEnablesLingering) {
    ASSERT_TRUE(InstallService(Seams(false), "/home/alice/data", out, err));
    EXPECT_EQ(ReadFileBytes(UnitPath()),
              *UnitText("/opt/q/HalvoricSvc", "/home/alice/data", false));
    EXPECT_THAT(runner.Lines(), ElementsAre("systemctl --user daemon-reload",
                                            "systemctl --user enable halvoric.service",
                                            "loginctl enable-linger alice"));
    EXPECT_EQ(err.str(), "");
}

TEST_F(InstallTest, RelativeDataFolderIsRegisteredAsAnAbsolutePath) {
    ASSERT_TRUE(InstallService(Seams(true), "rel/data", out, err));
    const std::string absolute = (std::filesystem::current_path() / "rel/data").string();
    EXPECT_EQ(ReadFileBytes(UnitPath()),
              *UnitText("/opt/q/HalvoricSvc", absolute, true, UnitUserOf(absolute)));
}

TEST_F(InstallTest, SystemUnitRunsAsTheOwnerOfTheDataFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a folder to another user";
    }
    // 65534 is nobody; a number without a name in the user database stays a number.
    for (uid_t uid : {uid_t{65534}, uid_t{54321}}) {
        const struct passwd* pw = ::getpwuid(uid);
        const std::string expected = pw != nullptr ? pw->pw_name : std::to_string(uid);
        SCOPED_TRACE(expected);
        TempDir data;
        ASSERT_EQ(::chown(data.path().c_str(), uid, uid), 0);
        EXPECT_EQ(UnitUserOf(data.path()), expected);
        // A folder not made yet belongs to whoever owns the folder it will be made in.
        EXPECT_EQ(UnitUserOf(data.path() + "/not/yet"), expected);

        ::unlink(UnitPath().c_str());
        ASSERT_TRUE(InstallService(Seams(true), data.path(), out, err));
        EXPECT_NE(ReadFileBytes(UnitPath()).find("\nUser=" + expected + "\n"), std::string::npos);
        ASSERT_EQ(::chown(data.path().c_str(), 0, 0), 0);
    }
}

TEST_F(InstallTest, InstallingOverAnExistingUnitFailsAndKeepsTheOldOne) {
    ASSERT_TRUE(InstallService(Seams(true), "/old/data", out, err));
    const std::string before = ReadFileBytes(UnitPath());
    const size_t callsBefore = runner.Lines().size();

    EXPECT_FALSE(InstallService(Seams(true), "/new/data", out, err));
    EXPECT_EQ(out.str(), "error=" + std::to_string(EEXIST));
    EXPECT_EQ(ReadFileBytes(UnitPath()), before);
    EXPECT_EQ(runner.Lines().size(), callsBefore);
    EXPECT_THAT(FolderEntries(), ElementsAre("halvoric.service"));
}

TEST_F(InstallTest, EnableFailureReportsTheCodeAndLeavesNoUnit) {
    runner.FailVerb("enable", 4);
    EXPECT_FALSE(InstallService(Seams(true), "/srv/data", out, err));
    EXPECT_EQ(out.str(), "error=4");
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_THAT(runner.Lines(),
                ElementsAre("systemctl daemon-reload", "systemctl enable halvoric.service",
                            "systemctl daemon-reload"));
}

TEST_F(InstallTest, UnreachableServiceManagerFailsWithoutCodeAndLeavesNoUnit) {
    runner.UnstartableVerb("daemon-reload", ENOENT);
    EXPECT_FALSE(InstallService(Seams(true), "/srv/data", out, err));
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
}

TEST_F(InstallTest, UnitFolderThatCannotBeMadeFailsTheInstall) {
    SystemdSeams seams = Seams(true);
    WriteFileBytes(units.File("file"), "x");
    seams.unitDirectory = units.File("file") + "/sub";
    EXPECT_FALSE(InstallService(seams, "/srv/data", out, err));
    EXPECT_TRUE(runner.Lines().empty());
}

TEST_F(InstallTest, ProgramPathSystemdCannotRunIsRefused) {
    SystemdSeams seams = Seams(true);
    seams.programPath = "/opt/it's/HalvoricSvc";
    EXPECT_FALSE(InstallService(seams, "/srv/data", out, err));
    EXPECT_EQ(out.str(), "error=" + std::to_string(EINVAL));
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_TRUE(runner.Lines().empty());
}

TEST_F(InstallTest, EmptyDataFolderIsRefused) {
    EXPECT_FALSE(InstallService(Seams(true), "", out, err));
    EXPECT_EQ(out.str(), "error=" + std::to_string(EINVAL));
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
}

TEST_F(InstallTest, LingeringThatCannotBeEnabledIsReportedButTheServiceIsInstalled) {
    runner.FailVerb("enable-linger", 1);
    EXPECT_TRUE(InstallService(Seams(false), "/srv/data", out, err));
    EXPECT_TRUE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(err.str().rfind("Halvoric: ", 0), 0u) << err.str();
    EXPECT_NE(err.str().find("error=1\n"), std::string::npos) << err.str();
}

TEST_F(InstallTest, StartAndStopReturnSystemctlsExitCodeOrStartError) {
    EXPECT_EQ(StartInstalledService(Seams(true)), 0);
    EXPECT_EQ(StopService(Seams(false)), 0);
    EXPECT_THAT(runner.Lines(), ElementsAre("systemctl start halvoric.service",
                                            "systemctl --user stop halvoric.service"));
    runner.FailVerb("start", 5);
    EXPECT_EQ(StartInstalledService(Seams(true)), 5);
    runner.UnstartableVerb("stop", ENOENT);
    EXPECT_EQ(StopService(Seams(true)), ENOENT);
}

TEST_F(InstallTest, RemoveStopsWaits600MsDisablesDeletesAndReloads) {
    ASSERT_TRUE(InstallService(Seams(true), "/srv/data", out, err));
    const size_t installCalls = runner.Lines().size();

    EXPECT_TRUE(RemoveService(Seams(true)));
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    std::vector<std::string> lines = runner.Lines();
    std::vector<uint32_t> ticks = runner.Ticks();
    lines.erase(lines.begin(), lines.begin() + installCalls);
    ticks.erase(ticks.begin(), ticks.begin() + installCalls);
    EXPECT_THAT(lines,
                ElementsAre("systemctl stop halvoric.service", "systemctl disable halvoric.service",
                            "systemctl daemon-reload"));
    EXPECT_THAT(ticks, ElementsAre(0u, 600u, 600u));
}

TEST_F(InstallTest, UserRemoveUsesTheUserManager) {
    ASSERT_TRUE(InstallService(Seams(false), "/srv/data", out, err));
    const size_t installCalls = runner.Lines().size();
    EXPECT_TRUE(RemoveService(Seams(false)));
    std::vector<std::string> lines = runner.Lines();
    lines.erase(lines.begin(), lines.begin() + installCalls);
    EXPECT_THAT(lines, ElementsAre("systemctl --user stop halvoric.service",
                                   "systemctl --user disable halvoric.service",
                                   "systemctl --user daemon-reload"));
}

TEST_F(InstallTest, RemoveWithoutAUnitFailsAndCallsNothing) {
    EXPECT_FALSE(RemoveService(Seams(true)));
    EXPECT_TRUE(runner.Lines().empty());
    EXPECT_EQ(clock.TickCount(), 0u);
}

TEST_F(InstallTest, RemoveKeepsTheUnitWhenItCannotBeDisabled) {
    ASSERT_TRUE(InstallService(Seams(true), "/srv/data", out, err));
    runner.FailVerb("disable", 1);
    EXPECT_FALSE(RemoveService(Seams(true)));
    EXPECT_TRUE(std::filesystem::exists(UnitPath()));
}

}  // namespace
}  // namespace qv
