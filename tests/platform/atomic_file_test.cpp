// Atomic file writes: replacement, no leftovers, readers never see a mix, failures keep the
// old file.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/lib/file_size_limit.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

mode_t GetUmask() {
    mode_t mask = umask(022);
    umask(mask);
    return mask;
}

size_t EntriesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

// While alive, file access of this thread is checked as user "nobody" (root loses its
// right to ignore permissions), so read-only folders stop root too.
class AsNobodyForFiles {
  public:
    AsNobodyForFiles() {
        previous_ = setfsuid(65534);
        active_ = setfsuid(65534) == 65534;
    }
    ~AsNobodyForFiles() { setfsuid(previous_); }
    bool active() const { return active_; }

  private:
    int previous_;
    bool active_;
};

TEST(AtomicFile, CreatesAndReplacesWithoutLeftovers) {
    TempDir dir;
    std::string path = dir.File("conf.dat");
    ASSERT_TRUE(WriteFileAtomically(path, "first\r\r\n"));
    EXPECT_EQ(ReadFileBytes(path), "first\r\r\n");
    ASSERT_TRUE(WriteFileAtomically(path, ""));
    EXPECT_EQ(ReadFileBytes(path), "");
    ASSERT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(ReadFileBytes(path), "second");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);  // no temporary file stays behind
}

TEST(AtomicFile, KeepsPermissionsOfReplacedFile) {
    TempDir dir;
    std::string path = dir.File("conf.dat");
    WriteFileBytes(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicFile, CreateNeverReplacesAndGivesTheMode) {
    TempDir dir;
    std::string path = dir.File("unit");
    int error = 0;
    ASSERT_TRUE(CreateFileAtomically(path, "one", 0604, &error));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_FALSE(CreateFileAtomically(path, "two", 0644, &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(ReadFileBytes(path), "one");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// A link a user put in place of a configuration file is replaced by the saved file; the
// file it pointed at is neither written nor lends its permission bits.
TEST(AtomicFile, ALinkIsReplacedAndItsTargetUntouched) {
    TempDir dir;
    TempDir elsewhere;
    const std::string target = elsewhere.File("precious");
    WriteFileBytes(target, "keep me");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    const std::string path = dir.File("conf01.dat");
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "0 router 1000\r\r\n"));
    EXPECT_EQ(ReadFileBytes(target), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadFileBytes(path), "0 router 1000\r\r\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u & ~GetUmask());
}

TEST(AtomicFile, MissingFolderFailsWithItsError) {
    TempDir dir;
    int error = 0;
    EXPECT_FALSE(WriteFileAtomically(dir.File("nope/conf.dat"), "x", &error));
    EXPECT_EQ(error, ENOENT);
}

TEST(AtomicFile, ReaderDuringManySavesSeesOnlyWholeFiles) {
    TempDir dir;
    std::string path = dir.File("conf01.dat");
    // Large enough that a plain truncate-and-write would be caught half done.
    const std::string a(256 * 1024, 'a');
    const std::string b(96 * 1024, 'b');
    ASSERT_TRUE(WriteFileAtomically(path, a));

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            std::string seen = ReadFileBytes(path);
            if (seen != a && seen != b) {
                torn.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    });
    int failedSaves = 0;
    for (int i = 0; i < 150; ++i) {
        if (!WriteFileAtomically(path, i % 2 == 0 ? b : a)) {
            ++failedSaves;
        }
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(failedSaves, 0);
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicFile, ReadOnlyFolderKeepsOldFile) {
    TempDir dir;
    std::string folder = dir.File("data");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string path = folder + "/conf02.dat";
    WriteFileBytes(path, "old contents\r\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);

    int error = 0;
    bool saved;
    {
        AsNobodyForFiles nobody;
        if (geteuid() == 0 && !nobody.active()) {
            chmod(folder.c_str(), 0755);
            GTEST_SKIP() << "cannot drop file-system privileges (setfsuid) as root";
        }
        saved = WriteFileAtomically(path, "new contents", &error);
    }
    chmod(folder.c_str(), 0755);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(ReadFileBytes(path), "old contents\r\r\n");
    EXPECT_EQ(EntriesIn(folder), 1u);
}

TEST(AtomicFile, WriteThatCannotCompleteKeepsOldFile) {
    // A file-size limit makes the write itself fail halfway, like a full disk would.
    TempDir dir;
    std::string path = dir.File("conf01.dat");
    WriteFileBytes(path, "0 127.0.0.1 1000\r\r\n");
    int error = 0;
    bool ok = false;
    {
        test::ScopedFileSizeLimit limit(64);
        ok = WriteFileAtomically(path, std::string(4096, 'x'), &error);
    }

    EXPECT_FALSE(ok);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(ReadFileBytes(path), "0 127.0.0.1 1000\r\r\n");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace qv
