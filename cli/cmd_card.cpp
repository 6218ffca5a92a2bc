#include "cli/cli_context.h"

namespace rk::cli {

void RegisterCardCommands(CLI::App&, Context&) {}

}  // namespace rk::cli
