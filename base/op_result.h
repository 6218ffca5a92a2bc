#pragma once
// How an operation ended. Every operation on the card (adds, reads, deletes,
// swaps, recovery) and every conversion without one answers with an
// OpOutcome, so the window, the terminal and the tests read one set of
// outcomes: no operation translates another's.
#include <string>

namespace rk {

enum class OpResult : int {
    kDone = 0,     // finished ("Write completed." / "Read completed." where the operation says one)
    kKeptPartial,  // stopped after some frames, and the person kept them (videos)
    kStopped,      // Stop: "Operation aborted." shown (or the partial frames discarded)
    kFailed,       // an error was reported to the person
    kRefused,      // nothing done and no message of its own: a dialog cancelled, a
                   // question answered No, no free entry, or nothing to do (the
                   // cause says which when the front-end needs to tell them apart)
};

struct OpOutcome {
    OpResult result = OpResult::kRefused;
    int slot = -1;            // the item's entry number when one was written or read, else -1
    std::string cause;        // what went wrong, when the operation knows more than its message
    bool writeError = false;  // the card failed: the front-end should rescan
    // Something was written or read (kept partial counts).
    bool Succeeded() const { return result == OpResult::kDone || result == OpResult::kKeptPartial; }
};

}  // namespace rk
