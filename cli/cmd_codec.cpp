#include "cli/cli_context.h"

namespace rk::cli {

void RegisterCodecCommands(CLI::App&, Context&) {}

}  // namespace rk::cli
