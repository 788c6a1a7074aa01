// `vireo xvc`: the XVC server on this process's board until Ctrl-C.
#pragma once

#include <CLI/CLI.hpp>

#include "xvc/Xvcserver.h"

namespace vireo::cli {

// Adds the subcommand and its options, which fill `options`.
CLI::App* add_xvc_command(CLI::App& cli, xvc::XvcOptions& options);

// Serves until Ctrl-C: 0 when Ctrl-C ended it, 1 when it could not listen or stopped by itself.
int serve_xvc(const xvc::XvcOptions& options);

}  // namespace vireo::cli
