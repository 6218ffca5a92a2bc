#pragma once
// What every command of reelkeep-cli shares: the terminal side of the
// operator seam, the answers and switches given on the command line, and the
// conventions every command follows:
//  - every message goes through the operator (or Fail/UsageError), so it
//    carries the one prefix "reelkeep-cli CMD: ";
//  - a failure names its file or card and the cause (Fail's detail);
//  - wrong usage exits 2 (UsageError), a failed operation 1;
//  - an output that exists is only overwritten after a Yes (MayWriteOutput);
//  - a destructive question first shows the card it is about
//    (ConfirmOnCard in cli/card_arg.h);
//  - listings take --json (cli/json_writer.h); an empty listing says so on
//    standard error and exits 0.
#include <string>

#include "cli/terminal_operator.h"

namespace CLI {
class App;
}

namespace rk {
class CSDCard;
}

namespace rk::cli {

// Exit status of reelkeep-cli: 0 success, 1 the operation failed, 2 wrong usage;
// `check` answers 8 when the card could not be read.
enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitUnreadable = 8 };

struct Context {
    bool yes = false;           // answer every question with Yes (-y, --yes)
    bool quiet = false;         // no progress and no notices, only errors (-q)
    bool verbose = false;       // the log's level-2 lines on standard error too (-v)
    CTerminalOperator* op = nullptr;  // the terminal side of the seam
    int exitCode = kExitOk;
    // The change was written whole: a Ctrl-C that came too late to stop it
    // does not turn its success into a failure.
    bool written = false;
    std::string command;        // the subcommand being run ("add-video")
};

// Opens CARD and reads its directory; false (exit status set, reason on
// stderr) when it is not a formatted card.
bool OpenFormattedCard(Context& ctx, const std::string& arg, rk::CSDCard& card, const char* command);
// The prefix of every line the CLI prints on standard error itself:
// "reelkeep-cli CMD: " (or "reelkeep-cli: " before a command is known).
std::string MessagePrefix(const Context& ctx);
// A failure: the text (a system text or a sentence), and in brackets the file
// or card concerned with the cause; logged with the same detail. Exit status 1.
void Fail(Context& ctx, const std::string& text, const std::string& detail = {});
// Wrong usage (a bad number, a size over the limit): exit status 2.
void UsageError(Context& ctx, const std::string& text);
// A notice on standard error (nothing with -q).
void Note(Context& ctx, const std::string& text);
// Before a command writes `path`: true when it does not exist yet, or exists
// as a regular file and the person (or --yes) answers Yes to overwriting it.
// False (reason shown, exit status 1) otherwise; nothing has been written.
// An output that is the card being read (`cardPath`) is refused, whatever
// the answer.
bool MayWriteOutput(Context& ctx, const std::string& path, const std::string& cardPath = {});

// A name or path as one field of a tab-separated listing, escaped as `ls -b`
// shows names: a backslash, a tab, a line break and a carriage return become
// \\, \t, \n and \r, other control bytes \ooo in octal; everything else
// (UTF-8 included) passes as it is.
std::string ListingField(const std::string& text);

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
void RegisterRecoverCommands(CLI::App& app, Context& ctx);
void RegisterRenderCommands(CLI::App& app, Context& ctx);

}  // namespace rk::cli
