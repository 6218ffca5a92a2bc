// Every test program keeps the journal and any other state of the program
// under test in a private folder, never in the user's own state folder: the
// folder is made before main, named in XDG_STATE_HOME (which the programs a
// test starts inherit) and removed when the test program ends.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

struct PrivateStateHome {
    PrivateStateHome() : owner(::getpid()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/rk-test-state-XXXXXX";
        if (::mkdtemp(templ.data())) {
            path = templ;
            ::setenv("XDG_STATE_HOME", path.c_str(), 1);
        } else {
            // Never the real home: a folder that cannot exist makes the journal fail quietly.
            ::setenv("XDG_STATE_HOME", "/proc/self/rk-no-state-folder", 1);
        }
    }
    ~PrivateStateHome() {
        if (path.empty() || ::getpid() != owner) return;  // a forked child leaves it to its parent
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    pid_t owner;
    std::string path;
};

PrivateStateHome privateStateHome;

}  // namespace

// Named on every test program's link line, so the folder above is made in
// every program that links the support library.
extern "C" {
extern const int rk_test_private_state_home;
const int rk_test_private_state_home = 1;
}
