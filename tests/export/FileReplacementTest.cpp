#include "export/FileReplacement.h"

#include "export/ExportTestSupport.h"
#include "export/FakeTable.h"
#include "export/TableExport.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace corvanta::test {
namespace {

TEST(DescribeFileError, NamesTheCauseTheUserCanAct) {
    const struct {
        int error;
        const char* part;
    } cases[] = {
        {ENOENT, "folder \"/data/reports\" does not exist"},
        {EACCES, "No permission to write \"/data/reports/out.txt\""},
        {EPERM, "No permission"},
        {EROFS, "read-only drive"},
        {ENOSPC, "disk is full"},
        {ENOTDIR, "not a folder"},
        {EISDIR, "is a folder"},
        {EFBIG, "larger than the drive allows"},
        {EIO, "Could not write \"/data/reports/out.txt\": "},
    };
    for (const auto& c : cases) {
        const std::string text = describeFileError(c.error, "/data/reports/out.txt");
        EXPECT_NE(text.find(c.part), std::string::npos) << c.error << ": " << text;
    }
}

// Makes every write past `bytes` fail in this process, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int);
};

class FileReplacementTest : public ExportFolder {};

TEST_F(FileReplacementTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    FakeTable list;
    for (int i = 0; i < 20000; ++i)
        list.addResult("关键词" + std::to_string(i), std::to_string(i), std::to_string(i * 3), "7");
    for (const std::string name : {"old.txt", "old.xlsx", "old.xls"}) {
        writeBytes(path(name), "the old " + name);
        ExportResult result;
        {
            FileSizeLimit limit(64 * 1024);
            result = exportTable(list, path(name), "关键词|PC指数|移动指数|总指数");
        }
        EXPECT_FALSE(result.ok) << name;
        if (name != "old.xls") { // that writer words its own reasons
            EXPECT_NE(result.error.find("larger than the drive allows"), std::string::npos)
                << name << ": " << result.error;
        }
        EXPECT_EQ(result.error.find(".tmp"), std::string::npos) << result.error;
        EXPECT_TRUE(readBytes(path(name)) == "the old " + name) << name << " was replaced";
    }
    EXPECT_EQ(entries(), (std::set<std::string>{"old.txt", "old.xlsx", "old.xls"}));
}

TEST_F(FileReplacementTest, KeepsPermissionsAndLinks) {
    writeBytes(path("real.txt"), "old");
    fs::permissions(path("real.txt"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(path("real.txt"), path("link.txt"));
    FakeTable list;
    list.addResult("new");
    ASSERT_TRUE(exportTable(list, path("link.txt"), "关键词").ok);
    EXPECT_TRUE(fs::is_symlink(path("link.txt")));
    EXPECT_EQ(readBytes(path("real.txt")), "new|\r\n");
    EXPECT_EQ(fs::status(path("real.txt")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(entries(), (std::set<std::string>{"link.txt", "real.txt"}));
}

TEST_F(FileReplacementTest, DiscardedUnlessCommitted) {
    std::string error;
    {
        FileReplacement replacement(path("out.txt"));
        ASSERT_TRUE(replacement.create(error)) << error;
        EXPECT_EQ(fs::path(replacement.temporaryPath()).parent_path(), folder_);
        EXPECT_EQ(entries().size(), 1u);
    }
    EXPECT_TRUE(entries().empty());
}

} // namespace
} // namespace corvanta::test
