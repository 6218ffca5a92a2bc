// Whole transfers at an offset: what is written reads back, the end of a file
// is told apart from an error, and errors keep their errno.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/fd_io.h"
#include "support/test_files.h"

using namespace rk;

TEST(FdIo, WholeTransfersAtOffsetsAndTheirFailures) {
    rk::test::TempDir dir("rk-fdio");
    CFileHandle f(::open(dir.File("data").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_GE(f.fd, 0);
    std::vector<uint8_t> block(70000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7 + 3);
    // Past the end of the file: the gap reads as zero.
    ASSERT_EQ(WriteWholeAt(f.fd, 12288, block.data(), block.size()), 1);
    std::vector<uint8_t> back(block.size());
    ASSERT_EQ(ReadWholeAt(f.fd, 12288, back.data(), back.size()), 1);
    EXPECT_EQ(back, block);
    uint8_t gap[16] = {1};
    ASSERT_EQ(ReadWholeAt(f.fd, 100, gap, sizeof gap), 1);
    for (uint8_t b : gap) EXPECT_EQ(b, 0);
    // Reading across or beyond the end is the end of the file, not an error.
    EXPECT_EQ(ReadWholeAt(f.fd, 12288 + 69990, back.data(), 20), 0);
    EXPECT_EQ(ReadWholeAt(f.fd, 1u << 30, back.data(), 1), 0);
    // Nothing to move succeeds at once.
    EXPECT_EQ(WriteWholeAt(f.fd, 0, block.data(), 0), 1);
    EXPECT_EQ(ReadWholeAt(f.fd, 0, back.data(), 0), 1);

    // A full device and a closed descriptor are errors with their errno.
    CFileHandle full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    if (full.fd >= 0) {
        errno = 0;
        EXPECT_EQ(WriteWholeAt(full.fd, 0, block.data(), 512), -1);
        EXPECT_EQ(errno, ENOSPC);
    }
    errno = 0;
    EXPECT_EQ(WriteWholeAt(-1, 0, block.data(), 1), -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(ReadWholeAt(-1, 0, back.data(), 1), -1);
    EXPECT_EQ(errno, EBADF);
}
