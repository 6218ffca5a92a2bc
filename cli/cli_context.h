#pragma once
// What every command of reelkeep-cli shares: the terminal side of the
// operator seam and the answers given on the command line.
#include <CLI/CLI.hpp>

#include <string>

#include "ui/operator.h"

namespace rk {
class CSDCard;
}

namespace rk::cli {

// Exit status of reelkeep-cli: 0 success, 1 the operation failed, 2 wrong usage;
// `check` answers 8 when the card could not be read.
enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitUnreadable = 8 };

struct Context {
    bool yes = false;           // answer every question with Yes
    IOperator* op = nullptr;    // the terminal operator
    int exitCode = kExitOk;
};

// Opens CARD and reads its directory; false (exit status set, reason on
// stderr) when it is not a formatted card.
bool OpenFormattedCard(Context& ctx, const std::string& arg, rk::CSDCard& card, const char* command);

// Each group of commands lives in its own file and registers itself here.
void RegisterCardCommands(CLI::App& app, Context& ctx);
void RegisterCheckCommands(CLI::App& app, Context& ctx);
void RegisterCopyCommands(CLI::App& app, Context& ctx);
void RegisterCodecCommands(CLI::App& app, Context& ctx);
void RegisterConvertCommands(CLI::App& app, Context& ctx);
void RegisterVideoCommands(CLI::App& app, Context& ctx);
void RegisterCatalogueCommands(CLI::App& app, Context& ctx);
void RegisterEffectCommands(CLI::App& app, Context& ctx);
void RegisterLogoCommands(CLI::App& app, Context& ctx);

}  // namespace rk::cli
