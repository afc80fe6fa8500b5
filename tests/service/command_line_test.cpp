// The command line: which arguments install, remove, run the service or do nothing,
// and the texts each outcome prints.
#include "service/command_line.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "fake_runner.h"
#include "support/lib/fake_clock.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::RecordingRunner;
using test::TempDir;
using ::testing::ElementsAre;

class CommandLineTest : public ::testing::Test {
  protected:
    CommandLineTest() : seams{runner, clock} {
        seams.unitDirectory = units.path();
        seams.systemScope = true;
        seams.programPath = "/opt/q/HalvoricSvc";
    }

    int Run(std::vector<std::string> args) {
        return RunCommandLine(args, out, err, seams, [this](const std::string& dataDir) {
            serviceRuns.push_back(dataDir);
            return serviceStatus;
        });
    }
    std::string UnitPath() const { return units.File("halvoric.service"); }

    TempDir units;
    FakeClock clock;
    RecordingRunner runner;
    SystemdSeams seams;
    std::ostringstream out;
    std::ostringstream err;
    std::vector<std::string> serviceRuns;
    int serviceStatus = 0;
};

TEST_F(CommandLineTest, InstallInstallsStartsAndReportsSuccess) {
    EXPECT_EQ(Run({"-i", "/srv/data"}), 0);
    EXPECT_EQ(out.str(), "\n\nService installed sucessfully\n");
    EXPECT_EQ(err.str(), "Halvoric: Service Installed Sucessfully\n");
    EXPECT_THAT(runner.Lines(),
                ElementsAre("systemctl daemon-reload", "systemctl enable halvoric.service",
                            "systemctl start halvoric.service"));
    EXPECT_NE(ReadFileBytes(UnitPath()).find("ExecStart=\"/opt/q/HalvoricSvc\" \"/srv/data\"\n"),
              std::string::npos);
    EXPECT_TRUE(serviceRuns.empty());
}

TEST_F(CommandLineTest, InstallIgnoresArgumentsAfterTheDataFolder) {
    EXPECT_EQ(Run({"-i", "/srv/data", "extra", "more"}), 0);
    EXPECT_EQ(out.str(), "\n\nService installed sucessfully\n");
    EXPECT_NE(ReadFileBytes(UnitPath()).find("\"/srv/data\"\n"), std::string::npos);
}

TEST_F(CommandLineTest, StartFailureShowsASecondMessageWithTheCode) {
    runner.FailVerb("start", 5);
    EXPECT_EQ(Run({"-i", "/srv/data"}), 0);
    EXPECT_EQ(out.str(), "\n\nService installed sucessfully\n");
    EXPECT_EQ(err.str(),
              "Halvoric: Service Installed Sucessfully\n"
              "Halvoric: Can't start service, error=5\n");
    EXPECT_TRUE(std::filesystem::exists(UnitPath()));
}

TEST_F(CommandLineTest, InstallingTwiceFailsAndKeepsTheFirstRegistration) {
    ASSERT_EQ(Run({"-i", "/first"}), 0);
    const std::string first = ReadFileBytes(UnitPath());
    out.str("");
    err.str("");
    const size_t calls = runner.Lines().size();

    EXPECT_EQ(Run({"-i", "/second"}), 1);
    EXPECT_EQ(out.str(), "error=" + std::to_string(EEXIST) + "\n\nError installing service\n");
    EXPECT_EQ(err.str(), "Halvoric: Error installing service: the service is already installed (" +
                             UnitPath() + ")\n");
    EXPECT_EQ(ReadFileBytes(UnitPath()), first);
    EXPECT_EQ(runner.Lines().size(), calls);  // in particular, nothing started
}

TEST_F(CommandLineTest, RemoveStopsTwiceAndReportsSuccess) {
    ASSERT_EQ(Run({"-i", "/srv/data"}), 0);
    out.str("");
    err.str("");
    const size_t calls = runner.Lines().size();

    EXPECT_EQ(Run({"-d", "/srv/data"}), 0);
    EXPECT_EQ(out.str(), "\n\nService Uninstalled sucessfully\n");
    EXPECT_EQ(err.str(), "Halvoric: Service UnInstalled Sucessfully\n");
    std::vector<std::string> lines = runner.Lines();
    lines.erase(lines.begin(), lines.begin() + calls);
    EXPECT_THAT(lines,
                ElementsAre("systemctl stop halvoric.service", "systemctl stop halvoric.service",
                            "systemctl disable halvoric.service", "systemctl daemon-reload"));
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(clock.TickCount(), 600u);
}

TEST_F(CommandLineTest, RemovingWhatIsNotInstalledReportsAnError) {
    runner.FailVerb("stop", 5);
    EXPECT_EQ(Run({"-d", "anything"}), 1);
    EXPECT_EQ(out.str(), "\n\nError Uninstalling service\n");
    EXPECT_EQ(err.str(), "Halvoric: Error uninstalling service: the service is not installed (no " +
                             UnitPath() + ")\n");
    EXPECT_THAT(runner.Lines(), ElementsAre("systemctl stop halvoric.service"));
}

TEST_F(CommandLineTest, OtherArgumentsDoNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"-I", "/srv/data"}, {"-D", "x"}, {"/a", "/b"}, {"i", "x", "y"}, {"--i", "x"}};
    for (const auto& args : cases) {
        EXPECT_EQ(Run(args), 0);
    }
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(runner.Lines().empty());
    EXPECT_TRUE(serviceRuns.empty());
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
}

TEST_F(CommandLineTest, OneArgumentRunsTheServiceOnThatFolderAndReturnsItsStatus) {
    EXPECT_EQ(Run({"/srv/data"}), 0);
    serviceStatus = 3;
    EXPECT_EQ(Run({"./-d"}), 3);  // a folder named "-d", written so that it is one
    EXPECT_THAT(serviceRuns, ElementsAre("/srv/data", "./-d"));
    EXPECT_TRUE(runner.Lines().empty());
    EXPECT_EQ(out.str(), "");
}

TEST_F(CommandLineTest, ASingleArgumentBeginningWithADashIsAnOptionNeverAFolder) {
    struct Case {
        std::string arg;
        int status;
        bool onOut;  // usage or version on standard output, else the usage on standard error
        std::string shows;
    };
    const Case cases[] = {
        {"--help", 0, true, "HalvoricSvc -i <data folder>"},
        {"-h", 0, true, "HalvoricSvc <data folder>"},
        {"--version", 0, true, std::string("HalvoricSvc ") + QV_VERSION + "\n"},
        {"-d", 2, false, "HalvoricSvc -d <data folder>"},
        {"-i", 2, false, "unknown option -i"},
        {"--data", 2, false, "./-name"},
        {"-", 2, false, "Usage: "},
    };
    for (const Case& c : cases) {
        out.str("");
        err.str("");
        EXPECT_EQ(Run({c.arg}), c.status) << c.arg;
        const std::string& shown = c.onOut ? out.str() : err.str();
        EXPECT_NE(shown.find(c.shows), std::string::npos) << c.arg << ": " << shown;
        EXPECT_EQ(c.onOut ? err.str() : out.str(), "") << c.arg;
    }
    EXPECT_TRUE(serviceRuns.empty());
    EXPECT_TRUE(runner.Lines().empty());
}

TEST_F(CommandLineTest, FailuresGiveTheSystemsReasonAndANonZeroStatus) {
    runner.FailVerb("enable", 1);
    EXPECT_EQ(Run({"-i", "/srv/data"}), 1);
    EXPECT_EQ(err.str(),
              "Halvoric: Error installing service: systemctl enable ended with code 1\n");
    EXPECT_FALSE(std::filesystem::exists(UnitPath())) << "nothing is left half installed";
    err.str("");
    runner.UnstartableVerb("daemon-reload", ENOENT);
    EXPECT_EQ(Run({"-i", "/srv/data"}), 1);
    EXPECT_EQ(err.str(),
              "Halvoric: Error installing service: systemctl: No such file or directory\n");
    err.str("");
    seams.programPath = "relative/HalvoricSvc";
    EXPECT_EQ(Run({"-i", "/srv/data"}), 1);
    EXPECT_NE(err.str().find("systemd cannot start the program relative/HalvoricSvc"),
              std::string::npos)
        << err.str();
}

}  // namespace
}  // namespace qv
