#pragma once
// One running window per user: a lock file "Korvix_Reelkeep" in the user's
// runtime folder ($XDG_RUNTIME_DIR, else /tmp/<uid>), held with flock() for
// as long as the process lives. The kernel drops the lock when the process
// ends, however it ends, so a crash never leaves a stale lock behind.
#include <string>

namespace rk {

class CSingleInstance {
public:
    CSingleInstance() = default;
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Takes the lock. False only when another process holds it. When the
    // lock file cannot be made at all (no usable folder), this answers true:
    // a broken runtime folder must not keep the operator out.
    bool Acquire();
    bool Held() const { return fd_ >= 0; }
    void Release();

    // Where the lock lives.
    static std::string LockPath();

private:
    int fd_ = -1;
};

// A folder only this user can write: ours, not a link, no access for others.
bool IsPrivateFolder(const std::string& dir);

// For main(): true when another instance is running, in which case main()
// returns at once, without a window and without a message. Otherwise this
// process now holds the lock until it ends.
bool AnotherInstanceRunning();

}  // namespace rk
