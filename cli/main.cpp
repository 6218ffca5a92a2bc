#include <cstdio>

#include <CLI/CLI.hpp>

#include "app/settings.h"
#include "base/log.h"
#include "base/translate.h"
#include "cli/cli_context.h"
#include "cli/terminal_operator.h"

int main(int argc, char** argv) {
    using namespace rk::cli;
    // The log level comes from the settings, the texts from the user's locale.
    rk::UseSettingsForLogLevel();
    rk::LoadLanguagePacks();
    rk::LogMessage(1, "reelkeep-cli: start, %d arguments", argc - 1);

    CLI::App app{"reelkeep-cli: prepare, fill and check the cards of the playout device"};
    app.set_version_flag("--version", "reelkeep-cli 0.1.0");
    app.require_subcommand(1);
    app.footer(
        "Questions are asked on the terminal; --yes answers them all with Yes, and without a terminal\n"
        "they are answered No. Ctrl-C stops the running operation at its next safe point and leaves\n"
        "the card consistent; Ctrl-\\ ends the program at once.\n"
        "Exit status: 0 success, 1 the operation failed or was stopped, 2 wrong usage.");
    Context ctx;
    app.add_flag("-y,--yes", ctx.yes, "Answer every question with Yes");

    CTerminalOperator op(&ctx.yes);
    ctx.op = &op;
    CTerminalOperator::InstallSignalHandlers();

    RegisterCardCommands(app, ctx);
    RegisterCodecCommands(app, ctx);
    RegisterConvertCommands(app, ctx);
    RegisterVideoCommands(app, ctx);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }
    int rc = ctx.exitCode;
    if (rc == kExitOk && CTerminalOperator::StopRequested()) rc = kExitFailed;
    rk::LogMessage(1, "reelkeep-cli: end, %d", rc);
    return rc;
}
