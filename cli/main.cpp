#include <cstdio>

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"

int main(int argc, char** argv) {
    using namespace rk::cli;
    CLI::App app{"reelkeep-cli: prepare, fill and check the cards of the playout device"};
    app.set_version_flag("--version", "reelkeep-cli 0.1.0");
    app.require_subcommand(1);
    Context ctx;
    app.add_flag("-y,--yes", ctx.yes, "Answer every question with Yes");
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
    return ctx.exitCode;
}
