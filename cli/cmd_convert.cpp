#include "cli/cli_context.h"

namespace rk::cli {

void RegisterConvertCommands(CLI::App&, Context&) {}

}  // namespace rk::cli
