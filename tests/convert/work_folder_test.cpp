// Working folders and their owner marks: a folder whose process was killed
// is swept at the next start; a live owner's folder, an unmarked folder still
// being made and anything else in the temporary folder stay.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "convert/pipe_folder.h"
#include "support/test_files.h"

namespace rk {
namespace {

bool Exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

class WorkFolders : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        if (old) oldTmp_ = old, hadTmp_ = true;
        ::setenv("TMPDIR", tmp_.Path().c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp_)
            ::setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    test::TempDir tmp_{"rk-sweep"};
    std::string oldTmp_;
    bool hadTmp_ = false;
};

TEST_F(WorkFolders, KilledOwnersFolderIsSweptLiveOnesStay) {
    // A child makes a working folder with a FIFO, reports it, and is killed.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        CPipeFolder f;
        if (!f.Create() || f.MakeFifo(kVideoPipeName).empty()) ::_exit(1);
        const std::string p = f.Path() + "\n";
        if (::write(report[1], p.data(), p.size()) != ssize_t(p.size())) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(report[1]);
    std::string killedFolder;
    char c;
    while (::read(report[0], &c, 1) == 1 && c != '\n') killedFolder += c;
    ::close(report[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_FALSE(killedFolder.empty());
    ASSERT_TRUE(Exists(killedFolder + "/" + kVideoPipeName));  // left behind

    CPipeFolder live;
    ASSERT_TRUE(live.Create());
    ASSERT_FALSE(live.MakeFifo(kAudioPipeName).empty());

    // Unmarked folders: an old one is abandoned, a fresh one may be in the
    // making. A folder of another name is never touched.
    const std::string oldUnmarked = tmp_.File("reelkeep-aaaaaa"), freshUnmarked = tmp_.File("reelkeep-bbbbbb");
    const std::string other = tmp_.File("reelkeep-notours");
    for (const auto& p : {oldUnmarked, freshUnmarked, other}) ASSERT_EQ(::mkdir(p.c_str(), 0700), 0);
    struct timeval old[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
    ASSERT_EQ(::utimes(oldUnmarked.c_str(), old), 0);

    EXPECT_EQ(SweepAbandonedWorkFolders(), 2);
    EXPECT_FALSE(Exists(killedFolder));
    EXPECT_FALSE(Exists(oldUnmarked));
    EXPECT_TRUE(Exists(freshUnmarked));
    EXPECT_TRUE(Exists(other));
    EXPECT_TRUE(Exists(live.Path() + "/" + kAudioPipeName));

    // The live folder goes whole when its owner removes it.
    const std::string livePath = live.Path();
    live.Remove();
    EXPECT_FALSE(Exists(livePath));
    EXPECT_EQ(SweepAbandonedWorkFolders(), 0);
}

}  // namespace
}  // namespace rk
