#include <cstdio>
#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

#include "app/settings.h"
#include "base/log.h"
#include "base/translate.h"
#include "card/sd_card.h"
#include "codec/transforms.h"
#include "cli/cli_context.h"
#include "cli/terminal_operator.h"
#include "convert/pipe_folder.h"

namespace {

// The subcommand named on the command line: the first argument that is not
// an option (no global option takes a value). Empty when there is none.
std::string NamedCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return {};
        if (argv[i][0] != '-') return argv[i];
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace rk::cli;
    // The log level comes from the settings, the texts from the user's locale.
    rk::UseSettingsForLogLevel();
    rk::LoadLanguagePacks();
    // Working folders of conversions whose process was killed.
    rk::SweepAbandonedWorkFolders();
    rk::LogMessage(1, "reelkeep-cli: start, %d arguments", argc - 1);

    CLI::App app{"reelkeep-cli: prepare, fill and check the cards of the playout device"};
    app.name("reelkeep-cli");
    // --version --verbose also tells which variant each codec kernel slot took
    // on this processor. The version flag acts as soon as it is read, so the
    // arguments are looked through for --verbose here.
    Context ctx;
    app.add_flag("-v,--verbose", ctx.verbose,
                 "The log's notable events on standard error; with --version: the codec kernel each slot uses");
    app.set_version_flag("--version", [argc, argv]() {
        std::string text = "reelkeep-cli " RK_VERSION_STRING;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], "--verbose") == 0 || std::strcmp(argv[i], "-v") == 0)
                text += "\nKVQ1 kernels:\n" + rk::DescribeKernels();
        if (text.back() == '\n') text.pop_back();
        return text;
    });
    app.require_subcommand(1);
    // -y, -q, -v (and --verify) after a command, nested ones too, are the
    // program's own: every command passes the options it does not know up.
    // Set before the commands are added, which inherit it.
    app.fallthrough();
    app.footer(
        "Questions are asked on the terminal; --yes answers them all with Yes, and without a terminal\n"
        "they are answered No. -y, -q and -v may stand before or after the command. An output file\n"
        "that exists is only overwritten after a Yes. Ctrl-C stops the running operation at its next\n"
        "safe point and leaves the card consistent; Ctrl-\\ ends the program at once.\n"
        "Exit status: 0 success, 1 the operation failed or was stopped, 2 wrong usage (check: 8 unreadable).");
    app.add_flag("-y,--yes", ctx.yes, "Answer every question with Yes");
    app.add_flag("-q,--quiet", ctx.quiet, "No progress and no notices: only errors");
    // Verify after write: the "Verify" setting unless the command line says.
    bool verify = false, noVerify = false;
    auto* verifyFlag = app.add_flag("--verify", verify, "Read back and compare every write before the directory");
    app.add_flag("--no-verify", noVerify, "Do not read back what was written")->excludes(verifyFlag);
    rk::CSDCard::SetVerifyPolicy(rk::ReadVerifyPolicy());

    CTerminalOperator op(&ctx.yes);
    op.SetQuietFlag(&ctx.quiet);
    ctx.op = &op;
    CTerminalOperator::InstallSignalHandlers();

    RegisterCardCommands(app, ctx);
    RegisterCheckCommands(app, ctx);
    RegisterCopyCommands(app, ctx);
    RegisterCodecCommands(app, ctx);
    RegisterConvertCommands(app, ctx);
    RegisterVideoCommands(app, ctx);
    RegisterCatalogueCommands(app, ctx);
    RegisterEffectCommands(app, ctx);
    RegisterLogoCommands(app, ctx);
    RegisterRecoverCommands(app, ctx);
    RegisterRenderCommands(app, ctx);
    const std::string named = NamedCommand(argc, argv);
    bool known = false;
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) known |= sub->get_name() == named;
    if (known) ctx.command = named;
    op.SetCommandName(ctx.command.empty() ? "reelkeep-cli" : "reelkeep-cli " + ctx.command);
    // The switches are read before any command runs (commands run once the
    // whole line is parsed).
    app.parse_complete_callback([&ctx, &verify, &noVerify] {
        if (ctx.verbose) rk::CDebug::Instance().SetEcho(2);
        if (verify) rk::CSDCard::SetVerifyPolicy(rk::CSDCard::kVerifyOn);
        if (noVerify) rk::CSDCard::SetVerifyPolicy(rk::CSDCard::kVerifyOff);
        rk::LogMessage(2, "reelkeep-cli: %s", ctx.command.c_str());
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        if (!named.empty() && !known)
            UsageError(ctx, "unknown command '" + named + "' (the commands are listed by reelkeep-cli --help)");
        else
            UsageError(ctx, e.what());
        return kExitUsage;
    }
    int rc = ctx.exitCode;
    if (rc == kExitOk && CTerminalOperator::StopRequested() && !ctx.written) rc = kExitFailed;
    rk::LogMessage(1, "reelkeep-cli: end, %d", rc);
    return rc;
}
