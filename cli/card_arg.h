#pragma once
// Resolving a CARD argument of reelkeep-cli: a drive number from `list`
// (1 to 9, resolved by a fresh scan) or the path of a card image or block
// device.
#include <string>

#include "card/card_device.h"

namespace rk {
class CSDCard;
}

namespace rk::cli {

struct Context;

// Opens the card named by `arg` into `card` (which keeps its operator).
// Answers an OpenAnswer (0 ok, 1 failed, 2 access denied); on failure
// `error` says why in words for stderr.
// `access` kRead for commands that only read (a read-only image opens).
int OpenCardArgument(const std::string& arg, CSDCard& card, std::string& error,
                     CardAccess access = CardAccess::kReadWrite);

// Opens the card and reads its directory. False with `error` set when the
// card cannot be opened; `formatted` tells whether the directory is valid.
bool OpenCardAndReadDirectory(const std::string& arg, CSDCard& card, bool& formatted, std::string& error,
                              CardAccess access = CardAccess::kReadWrite);

// Opens CARD and reads its directory for work on its items. False (the
// card named and the cause shown, exit status 1) when it cannot be opened or
// is not formatted.
bool OpenFormattedCard(Context& ctx, const std::string& arg, CSDCard& card,
                       CardAccess access = CardAccess::kReadWrite);

// What a card is and holds, for the line before a destructive question:
// "demo.img, 8.1 GB, HD 1080p50: 2 videos, 1 playlist" ("not formatted",
// "empty" where that is so).
std::string DescribeCard(const CSDCard& card);
// Shows DescribeCard on standard error before a question about the card
// (nothing with -q).
void ShowCardLine(Context& ctx, const CSDCard& card);
// Shows the card line, then asks the question of
// `stringId` (--yes answers Yes). True on Yes.
bool ConfirmOnCard(Context& ctx, const CSDCard& card, int stringId);

}  // namespace rk::cli
