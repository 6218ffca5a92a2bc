#pragma once
// Resolving a CARD argument of reelkeep-cli: a drive number from `list`
// (1 to 9, resolved by a fresh scan) or the path of a card image or block
// device.
#include <string>

namespace rk {
class CSDCard;
}

namespace rk::cli {

// Opens the card named by `arg` into `card` (which keeps its operator).
// Answers an OpenAnswer (0 ok, 1 failed, 2 access denied); on failure
// `error` says why in words for stderr.
int OpenCardArgument(const std::string& arg, CSDCard& card, std::string& error);

// Opens the card and reads its directory. False with `error` set when the
// card cannot be opened; `formatted` tells whether the directory is valid.
bool OpenCardAndReadDirectory(const std::string& arg, CSDCard& card, bool& formatted, std::string& error);

}  // namespace rk::cli
