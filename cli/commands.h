// Runs a parsed command against the module and writes its output.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "host/host.h"

namespace hx::cli {

// Results go to out, error texts to err; returns the exit status.
int runCommand(const Command& command, std::FILE* out, std::FILE* err);

// A failed method's text for the person at the terminal: after the
// option its argument came from, "harmidex: --bins 1000: binCount should...".
std::string methodFailureText(const Command& command, const std::string& moduleText);

// The values of a method's list result, all floats; nullopt, with the
// first value that is not one named on err, for any other list.
std::optional<std::vector<double>> listFloats(host::Host& host, int32_t method,
                                              const HxValue& list, std::FILE* err);

class Session;
// The module to load: --module (a relative path taken from the current
// folder) or the default one.
std::string modulePathOf(const Command& command);
// Loads the module and makes the object; false with the reason on err.
bool startSession(Session& session, const Command& command, std::FILE* err);

}  // namespace hx::cli
