#include "cli/cli_context.h"

namespace rk::cli {

void RegisterVideoCommands(CLI::App&, Context&) {}

}  // namespace rk::cli
