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

    EXPECT_EQ(Run({"-i", "/second"}), 0);
    EXPECT_EQ(out.str(), "error=" + std::to_string(EEXIST) + "\n\nError installing service\n");
    EXPECT_EQ(err.str(), "Halvoric: Error Installing Service\n");
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
    EXPECT_EQ(Run({"-d", "anything"}), 0);
    EXPECT_EQ(out.str(), "\n\nError Uninstalling service\n");
    EXPECT_EQ(err.str(), "Halvoric: Error UnInstalling Service\n");
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
    EXPECT_EQ(Run({"-d"}), 3);  // "-d" alone is a data folder
    EXPECT_EQ(Run({"-i"}), 3);
    EXPECT_THAT(serviceRuns, ElementsAre("/srv/data", "-d", "-i"));
    EXPECT_TRUE(runner.Lines().empty());
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace qv
