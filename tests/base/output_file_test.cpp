#include "base/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "support/file_faults.h"
#include "support/test_paths.h"

namespace benchcap {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeBytes;

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

void expectMentions(const std::string& error, std::initializer_list<std::string> parts) {
    for (const std::string& part : parts)
        EXPECT_NE(error.find(part), std::string::npos) << part << " not in: " << error;
}

class OutputFileTest : public ::testing::Test {
  protected:
    // The target holds `bytes` and nothing else is in the folder.
    void expectOnly(const std::string& bytes) {
        EXPECT_EQ(readFile(target), bytes);
        EXPECT_EQ(test::folderEntries(dir), 1);
    }
    const fs::path dir = test::makeTempDir("outputfile");
    const fs::path target = dir / "TRACE1.TXT";
};

TEST_F(OutputFileTest, WritesInPiecesAndReplacesUnderTheFinalNameOnly) {
    ASSERT_TRUE(writeOutputFile(target, "first"));
    Result<OutputFile> file = OutputFile::create(target);
    ASSERT_TRUE(file) << file.error();
    ASSERT_TRUE(file->write("second, "));
    ASSERT_TRUE(file->write("longer"));
    EXPECT_EQ(file->bytesWritten(), 14u);
    // Until the commit the old file is untouched and the new one is hidden beside it.
    EXPECT_EQ(readFile(target), "first");
    EXPECT_EQ(file->temporaryPath().parent_path(), dir);
    EXPECT_EQ(file->temporaryPath().filename().string().front(), '.');
    ASSERT_TRUE(file->commit());
    expectOnly("second, longer");
    // Nothing more after the commit.
    EXPECT_FALSE(file->write("x"));
    EXPECT_FALSE(file->commit());
}

TEST_F(OutputFileTest, AnAbandonedOrKilledWriteKeepsTheOldFile) {
    writeBytes(target, "old");
    {
        Result<OutputFile> file = OutputFile::create(target);
        ASSERT_TRUE(file && file->write("half"));
        Result<OutputFile> moved = std::move(file.value());  // ownership moves with it
    }
    expectOnly("old");
    // A process killed in the middle of a write: the target still holds the old bytes.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Result<OutputFile> file = OutputFile::create(target);
        if (file && file->write(std::string(100000, 'x')))
            raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(readFile(target), "old");
}

// The disk refusing at each step: the message names the file, the reason and what to do,
// the old file stays whole, no temporary file is left, and a failed write stays failed.
TEST_F(OutputFileTest, EveryRefusalIsAClearErrorAndKeepsTheOldFile) {
    enum Step { Open, Write, ShortWrite, Fsync, Close, Rename, SizeLimit };
    const struct {
        Step step;
        int error;
        const char* reason;
        const char* advice;
    } cases[] = {
        {Open, EROFS, "Read-only file system", "Choose a folder you can write to"},
        {Open, ENOSPC, "No space left on device", "Free some space"},
        {Write, ENOSPC, "No space left on device", "Free some space"},
        {ShortWrite, ENOSPC, "No space left on device", "Free some space"},
        {Write, EIO, "Input/output error", "check it and try again"},
        {Fsync, EIO, "Input/output error", "check it and try again"},
        {Close, EIO, "Input/output error", "check it and try again"},
        {Rename, EROFS, "Read-only file system", "Choose a folder"},
        {Rename, EXDEV, "Invalid cross-device link", ""},
        {SizeLimit, 0, "File too large", "file-size limit"},  // the real EFBIG
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "step " << c.step << ": " << c.reason);
        writeBytes(target, "old contents");
        FileCalls calls = FileCalls::system();
        const auto fail = [error = c.error] {
            errno = error;
            return -1;
        };
        std::optional<test::FileSizeLimit> limit;
        switch (c.step) {
            case Open:
                calls.open = [fail](const char*, int, mode_t) { return fail(); };
                break;
            case Write:
                calls.write = [fail](int, const void*, std::size_t) -> ssize_t { return fail(); };
                break;
            case ShortWrite:  // the first bytes fit, the rest does not
                calls.write = [fail, first = true](int fd, const void* data,
                                                   std::size_t size) mutable -> ssize_t {
                    if (!std::exchange(first, false))
                        return fail();
                    return ::write(fd, data, std::min<std::size_t>(size, 3));
                };
                break;
            case Fsync:
                calls.fsync = [fail](int) { return fail(); };
                break;
            case Close:
                calls.close = [fail](int fd) {
                    ::close(fd);
                    return fail();
                };
                break;
            case Rename:
                calls.rename = [fail](const char*, const char*) { return fail(); };
                break;
            case SizeLimit:
                limit.emplace(4096);
                break;
        }
        Result<OutputFile> file = OutputFile::create(target, calls);
        Status status = file ? file->write(std::string(5000, 'n')) : Status(Error{file.error()});
        if (file && !status) {
            // A caller that goes on regardless gets the same error and no half file.
            EXPECT_EQ(file->write("more").error(), status.error());
            EXPECT_EQ(file->commit().error(), status.error());
        } else if (file) {
            status = file->commit();
        }
        limit.reset();
        ASSERT_FALSE(status);
        expectMentions(status.error(), {"\"" + target.string() + "\"", c.reason, c.advice});
        expectOnly("old contents");
    }
}

TEST_F(OutputFileTest, AMissingFolderOrAFolderOrDeviceAtTheTargetIsRefused) {
    const fs::path nowhere = dir / "no such folder" / "T.TXT";
    expectMentions(writeOutputFile(nowhere, "1").error(),
                   {nowhere.string(), "No such file or directory"});
    // A folder, or a link to one, is never replaced.
    const fs::path folder = dir / "taken";
    fs::create_directory(folder);
    writeBytes(folder / "inside", "keep");
    const fs::path link = dir / "link-to-folder";
    fs::create_directory_symlink(folder, link);
    for (const fs::path& path : {folder, link, dir / "taken" / ".", dir / "taken/.."}) {
        const Status status = writeOutputFile(path, "1");
        ASSERT_FALSE(status) << path;
        expectMentions(status.error(), {"Is a directory", "not a folder"});
    }
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(folder / "inside"), "keep");
    EXPECT_FALSE(writeOutputFile(dir / "", "1"));
    // Nor is a device, a FIFO or a link to one (as root, rename would replace them).
    const fs::path fifo = dir / "fifo", toDevice = dir / "to-null";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", toDevice);
    for (const fs::path& path : {fs::path("/dev/null"), fifo, toDevice}) {
        const Status status = writeOutputFile(path, "1");
        EXPECT_EQ(status.errorKind(), ErrorKind::Usage) << path;
        expectMentions(status.error(), {path.string(), "not a regular file"});
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(toDevice));
}

TEST_F(OutputFileTest, ASymlinkAtTheTargetIsReplacedNotFollowed) {
    const fs::path victim = dir / "victim";
    writeBytes(victim, "precious");
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(victim, target);
    const mode_t oldMask = ::umask(022);
    const Status written = writeOutputFile(target, "new");
    ::umask(oldMask);
    ASSERT_TRUE(written);
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(modeOf(target), 0644u);  // a new file: the link's target lends it nothing
    EXPECT_EQ(modeOf(victim), 0600u);
    // A dangling link does not create the file it points to.
    const fs::path ghost = dir / "ghost";
    const fs::path dangling = dir / "dangling";
    fs::create_symlink(ghost, dangling);
    ASSERT_TRUE(writeOutputFile(dangling, "new"));
    EXPECT_FALSE(fs::exists(ghost));
    EXPECT_EQ(readFile(dangling), "new");
}

TEST_F(OutputFileTest, ASymlinkAtATemporaryNameIsNeverFollowed) {
    const fs::path victim = dir / "victim";
    writeBytes(victim, "precious");
    const fs::path ghost = dir / "ghost";
    for (const fs::path& pointsTo : {victim, ghost}) {
        // Someone plants a link at the very name we are about to create.
        FileCalls calls = FileCalls::system();
        std::vector<std::string> tried;
        calls.open = [&](const char* path, int flags, mode_t mode) {
            tried.push_back(path);
            if (tried.size() == 1)
                fs::create_symlink(pointsTo, path);
            return ::open(path, flags, mode);
        };
        ASSERT_TRUE(writeOutputFile(target, "mine", calls));
        ASSERT_EQ(tried.size(), 2u);
        EXPECT_NE(tried[0], tried[1]);
        EXPECT_TRUE(fs::is_symlink(tried[0]));
        fs::remove(tried[0]);
        EXPECT_EQ(readFile(target), "mine");
        EXPECT_EQ(readFile(victim), "precious");
        EXPECT_FALSE(fs::exists(ghost));
    }
}

TEST_F(OutputFileTest, KeepsTheModeOfAReplacedFileAndFollowsTheUmaskForANewOne) {
    const struct {
        mode_t umask;
        mode_t existing;  // 0: no file before
        mode_t expected;
    } cases[] = {
        {022, 0, 0644},    {027, 0, 0640},    {077, 0, 0600},
        {022, 0600, 0600}, {077, 0664, 0664}, {022, 0755, 0755},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::oct << "umask " << c.umask << " existing " << c.existing);
        fs::remove(target);
        if (c.existing != 0) {
            writeBytes(target, "old");
            ASSERT_EQ(::chmod(target.c_str(), c.existing), 0);
        }
        const mode_t old = ::umask(c.umask);
        const Status status = writeOutputFile(target, "new");
        ::umask(old);
        ASSERT_TRUE(status) << status.error();
        EXPECT_EQ(modeOf(target), c.expected);
    }
}

TEST_F(OutputFileTest, RootRewritingAUsersFileKeepsItTheUsers) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file away";
    writeBytes(target, "old");
    ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(writeOutputFile(target, "new"));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(OutputFileTest, ALegalLongNameWorks) {
    // Names up to the limit; the last one on a file system whose names end sooner than the
    // target's would allow the long temporary name: a short one is taken instead.
    for (const std::size_t length : {1u, 200u, 229u, 230u, 255u, 120u}) {
        const std::size_t nameLimit = length == 120 ? 100 : 255;
        const fs::path longName = dir / std::string(length, 'L');
        FileCalls calls = FileCalls::system();
        std::string temporary;
        calls.open = [&temporary, nameLimit](const char* path, int flags, mode_t mode) {
            temporary = fs::path(path).filename().string();
            if (temporary.size() > nameLimit) {
                errno = ENAMETOOLONG;
                return -1;
            }
            return ::open(path, flags, mode);
        };
        const Status status = writeOutputFile(longName, "long", calls);
        ASSERT_TRUE(status) << length << ": " << status.error();
        EXPECT_EQ(readFile(longName), "long");
        EXPECT_LE(temporary.size(), nameLimit);
        fs::remove(longName);
    }
    // One byte more than a name may have: the error says so.
    expectMentions(writeOutputFile(dir / std::string(256, 'L'), "x").error(),
                   {"File name too long"});
    EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
}  // namespace benchcap
