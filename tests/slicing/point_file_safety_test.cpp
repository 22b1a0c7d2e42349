// The point file against hostile names and a full disk: the old file stays whole, a read-only one
// is refused (even for root, who could write it), and a FIFO is never waited on.
#include "slicing/PointFile.h"
#include "slicing/SlicePoint.h"

#include "SliceFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace cleavix::slicing {
namespace {

CandidateList table(std::initializer_list<uint32_t> positions) {
    CandidateList c;
    for (uint32_t at : positions) {
        c.append(slicing::test::point(at, 1));
    }
    c.setMarkers(20000);
    return c;
}

TEST(PointFileSafety, AFullDiskLeavesTheOldPointFileWhole) {
    cleavix::test::TempDir dir;
    const std::string file = dir.file("points.clx");
    ASSERT_TRUE(savePointFile(table({100, 200}), file).ok);
    const cleavix::test::Bytes before = cleavix::test::readFile(file);
    // A file-size limit below one point file stands for the full disk, in a child of its own.
    const int code = cleavix::test::exitWithin(10, [&] {
        const cleavix::test::FileSizeLimit full(1000);
        const PointFileResult r = savePointFile(table({300, 400, 500}), file);
        return r.ok ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(cleavix::test::readFile(file), before);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"points.clx"});
}

TEST(PointFileSafety, AReadOnlyPointFileIsNotOverwritten) {
    cleavix::test::TempDir dir;
    const std::string file = dir.file("points.clx");
    ASSERT_TRUE(savePointFile(table({100}), file).ok);
    const cleavix::test::Bytes before = cleavix::test::readFile(file);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const PointFileResult r = savePointFile(table({700, 800}), file);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("read-only"), std::string::npos) << r.error;
    EXPECT_EQ(cleavix::test::readFile(file), before);
}

TEST(PointFileSafety, AFifoIsRefusedAsNoPointFileWithoutBlocking) {
    cleavix::test::TempDir dir;
    const std::string fifo = dir.file("points.clx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int code = cleavix::test::exitWithin(5, [&] {
        CandidateList c = table({100});
        const PointFileResult r = loadPointFile(c, fifo, 20000);
        return !r.ok && r.error == kMsgBadPointFile && c.count() == 1 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    const int saved = cleavix::test::exitWithin(5, [&] { return savePointFile(table({100}), fifo).ok ? 1 : 0; });
    EXPECT_EQ(saved, 0);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

} // namespace
} // namespace cleavix::slicing
