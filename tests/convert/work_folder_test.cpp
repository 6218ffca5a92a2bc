// Working folders and their owner marks: a folder whose process was killed
// is swept whole at the next start; a live owner's folder, a folder still
// being made and anything without our mark (a person's "reelkeep-backup")
// stay, whatever is in them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "convert/pipe_folder.h"
#include "support/test_files.h"

namespace rk {
namespace {

using test::FileExists;

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
    // A pid that ran a moment ago and runs no more.
    static pid_t GonePid() {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(0);
        int status = 0;
        ::waitpid(child, &status, 0);
        return child;
    }
    // A folder of `name` (mode `mode`) holding a mark of `markText` (none
    // when empty) and a file, so that nothing is empty by chance.
    std::string Folder(const std::string& name, const std::string& markText, bool withFile = true,
                       mode_t mode = 0700) {
        const std::string path = tmp_.File(name);
        EXPECT_EQ(::mkdir(path.c_str(), mode), 0) << name;
        ::chmod(path.c_str(), mode);
        if (!markText.empty()) {
            EXPECT_TRUE(test::WriteFile(path + "/" + kOwnerMarkName, markText));
        }
        if (withFile) {
            EXPECT_TRUE(test::WriteFile(path + "/photo.png", "a person's file"));
        }
        return path;
    }
    static std::string Mark(const ProcessStamp& s) {
        return "reelkeep working folder\npid " + std::to_string(s.pid) + "\nstart " + std::to_string(s.startTicks) +
               "\nboot " + s.bootId + "\n";
    }

    test::TempDir tmp_{"rk-sweep"};
    std::string oldTmp_;
    bool hadTmp_ = false;
};

TEST_F(WorkFolders, KilledOwnersFolderGoesWholeWithoutFollowingLinks) {
    // Something outside the folder that a link inside points at.
    test::TempDir outside("rk-outside");
    const std::string precious = outside.File("precious.txt");
    ASSERT_TRUE(test::WriteFile(precious, "keep me"));
    ASSERT_EQ(::mkdir(outside.File("tree").c_str(), 0700), 0);
    ASSERT_TRUE(test::WriteFile(outside.File("tree/leaf"), "keep me too"));

    // A child makes a working folder with everything our operations put in
    // one, reports it, and is killed.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        CPipeFolder f;
        const bool made = f.Create() && !f.MakeFifo(kVideoPipeName).empty() && f.Link("loop.png", precious) &&
                          f.Link("tree", outside.File("tree")) && ::mkdir(f.AddFile("sub").c_str(), 0700) == 0 &&
                          test::WriteFile(f.AddFile("sub/1.rgb"), "pixels") &&
                          ::symlink(precious.c_str(), f.AddFile("sub/link").c_str()) == 0;
        if (!made) ::_exit(1);
        const std::string p = f.Path() + "\n";
        if (::write(report[1], p.data(), p.size()) != ssize_t(p.size())) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(report[1]);
    std::string killed;
    char c;
    while (::read(report[0], &c, 1) == 1 && c != '\n') killed += c;
    ::close(report[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_FALSE(killed.empty());
    EXPECT_EQ(killed.rfind(tmp_.File("reelkeep-" + std::to_string(child) + "-"), 0), 0u) << killed;
    ASSERT_TRUE(FileExists(killed + "/sub/1.rgb"));  // left behind

    CPipeFolder live;
    ASSERT_TRUE(live.Create());
    ASSERT_FALSE(live.MakeFifo(kAudioPipeName).empty());

    EXPECT_EQ(SweepAbandonedWorkFolders(), 1);
    EXPECT_FALSE(FileExists(killed));
    EXPECT_TRUE(FileExists(live.Path() + "/" + kAudioPipeName));
    std::string text;
    EXPECT_TRUE(test::ReadFile(precious, text) && text == "keep me");
    EXPECT_TRUE(FileExists(outside.File("tree/leaf")));

    // The live folder goes whole when its owner removes it.
    const std::string livePath = live.Path();
    live.Remove();
    EXPECT_FALSE(FileExists(livePath));
    EXPECT_EQ(SweepAbandonedWorkFolders(), 0);
}

TEST_F(WorkFolders, OnlyFoldersMarkedByAGoneOwnerAreSwept) {
    ProcessStamp me, gone;
    ASSERT_TRUE(StampOfProcess(::getpid(), me));
    gone = me;
    gone.pid = GonePid();
    ProcessStamp reused = me;  // our pid, but another start: a process before us
    reused.startTicks = me.startTicks - 1;
    ProcessStamp otherBoot = me;
    otherBoot.bootId = "00000000-0000-0000-0000-000000000000";
    const std::string mine = std::to_string(me.pid), goneId = std::to_string(gone.pid);

    struct Case {
        std::string name, mark;
        bool withFile;
        mode_t mode;
        bool swept;
    };
    const std::vector<Case> cases = {
        // Ours, and the owner is gone.
        {"reelkeep-" + goneId + "-aaaaaa", Mark(gone), true, 0700, true},
        {"reelkeep-" + mine + "-bbbbbb", Mark(reused), true, 0700, true},
        {"reelkeep-" + mine + "-cccccc", Mark(otherBoot), true, 0700, true},
        // Made and not yet marked when its process was killed: empty.
        {"reelkeep-" + goneId + "-dddddd", "", false, 0700, true},
        // The owner runs.
        {"reelkeep-" + mine + "-eeeeee", Mark(me), true, 0700, false},
        // Made and not yet marked by a process that runs.
        {"reelkeep-" + mine + "-ffffff", "", false, 0700, false},
        // A person's folders, whatever their age, content or name.
        {"reelkeep-backup", "", true, 0700, false},
        {"reelkeep-videos", "", false, 0700, false},
        {"reelkeep-123456", "", false, 0700, false},
        {"reelkeep-" + goneId + "-gggggg", "", true, 0700, false},   // not empty, no mark
        {"reelkeep-" + goneId + "-hhhhhh", "notes\n", true, 0700, false},  // a ".owner" not ours
        {"reelkeep-" + mine + "-iiiiii", Mark(gone), true, 0700, false},   // mark of another pid than the name
        {"reelkeep-" + goneId + "-jjjjjj", Mark(gone), true, 0755, false},  // not a private folder
        {"reelkeep-" + goneId + "-kkkkkk-x", Mark(gone), true, 0700, false},
        {"rk-effect-" + goneId, Mark(gone), true, 0700, false},
    };
    int expected = 0;
    for (const Case& k : cases) {
        Folder(k.name, k.mark, k.withFile, k.mode);
        expected += k.swept;
    }
    // A link of our name to a person's folder is not followed.
    const std::string linked = Folder("elsewhere", Mark(gone));
    ASSERT_EQ(::symlink(linked.c_str(), tmp_.File("reelkeep-" + goneId + "-llllll").c_str()), 0);

    EXPECT_EQ(SweepAbandonedWorkFolders(), expected);
    for (const Case& k : cases) EXPECT_EQ(FileExists(tmp_.File(k.name)), !k.swept) << k.name;
    EXPECT_TRUE(FileExists(linked + "/photo.png"));
}

}  // namespace
}  // namespace rk
