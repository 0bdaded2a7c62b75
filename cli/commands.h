// Runs a parsed command against the module and writes its output.
#pragma once

#include <cstdio>

#include "cli/options.h"

namespace hx::cli {

// Results go to out, error texts to err; returns the exit status.
int runCommand(const Command& command, std::FILE* out, std::FILE* err);

}  // namespace hx::cli
