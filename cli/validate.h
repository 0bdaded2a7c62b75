// harmidex validate: loads the module as a host does and checks the rules
// every host relies on, by load/unload cycles, object lifecycles and
// seeded random calls (cli/validate_calls.h).
#pragma once

#include <cstdio>
#include <optional>

namespace hx::cli {

inline constexpr const char* kValidateCommand = "validate";

// Runs `harmidex [--module PATH] validate ...` and gives its exit status:
// 0 every rule held, 1 a rule was broken (the seed and the call on err),
// 2 usage error. nullopt when the command line is not a validate command.
std::optional<int> runValidateCommand(int argc, const char* const* argv, std::FILE* out,
                                      std::FILE* err);

}  // namespace hx::cli
