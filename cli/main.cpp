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

int main(int argc, char** argv) {
    using namespace rk::cli;
    // The log level comes from the settings, the texts from the user's locale.
    rk::UseSettingsForLogLevel();
    rk::LoadLanguagePacks();
    // Working folders of conversions whose process was killed.
    rk::SweepAbandonedWorkFolders();
    rk::LogMessage(1, "reelkeep-cli: start, %d arguments", argc - 1);

    CLI::App app{"reelkeep-cli: prepare, fill and check the cards of the playout device"};
    // --version --verbose also tells which variant each codec kernel slot took
    // on this processor. The version flag acts as soon as it is read, so the
    // arguments are looked through for --verbose here.
    bool verbose = false;
    app.add_flag("--verbose", verbose, "With --version: the codec kernel each slot uses on this processor");
    app.set_version_flag("--version", [argc, argv]() {
        std::string text = "reelkeep-cli 0.1.0";
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], "--verbose") == 0) text += "\nKVQ1 kernels:\n" + rk::DescribeKernels();
        if (text.back() == '\n') text.pop_back();
        return text;
    });
    app.require_subcommand(1);
    app.footer(
        "Questions are asked on the terminal; --yes answers them all with Yes, and without a terminal\n"
        "they are answered No. Ctrl-C stops the running operation at its next safe point and leaves\n"
        "the card consistent; Ctrl-\\ ends the program at once.\n"
        "Exit status: 0 success, 1 the operation failed or was stopped, 2 wrong usage (check: 8 unreadable).");
    Context ctx;
    app.add_flag("-y,--yes", ctx.yes, "Answer every question with Yes");
    // Verify after write: the "Verify" setting unless the command line says.
    bool verify = false, noVerify = false;
    auto* verifyFlag = app.add_flag("--verify", verify, "Read back and compare every write before the directory");
    app.add_flag("--no-verify", noVerify, "Do not read back what was written")->excludes(verifyFlag);
    rk::CSDCard::SetVerifyPolicy(rk::ReadVerifyPolicy());
    app.parse_complete_callback([&verify, &noVerify] {
        if (verify) rk::CSDCard::SetVerifyPolicy(rk::CSDCard::kVerifyOn);
        if (noVerify) rk::CSDCard::SetVerifyPolicy(rk::CSDCard::kVerifyOff);
    });

    CTerminalOperator op(&ctx.yes);
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
