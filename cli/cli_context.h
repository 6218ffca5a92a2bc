#pragma once
// What every command of reelkeep-cli shares: the terminal side of the
// operator seam and the answers given on the command line.
#include <CLI/CLI.hpp>

#include "ui/operator.h"

namespace rk::cli {

// Exit status of reelkeep-cli: 0 success, 1 the operation failed, 2 wrong usage;
// `check` answers 8 when the card could not be read.
enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitUnreadable = 8 };

struct Context {
    bool yes = false;           // answer every question with Yes
    IOperator* op = nullptr;    // the terminal operator
    int exitCode = kExitOk;
};

// Each group of commands lives in its own file and registers itself here.
void RegisterCardCommands(CLI::App& app, Context& ctx);
void RegisterCheckCommands(CLI::App& app, Context& ctx);
void RegisterCodecCommands(CLI::App& app, Context& ctx);
void RegisterConvertCommands(CLI::App& app, Context& ctx);
void RegisterVideoCommands(CLI::App& app, Context& ctx);

}  // namespace rk::cli
