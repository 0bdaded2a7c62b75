// harmidex: a scripting host on the command line. Everything it prints
// comes from the module through the host's interfaces.
#include <cstdio>
#include <exception>
#include <new>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/validate.h"

int main(int argc, char** argv) {
  hx::cli::useBinaryStandardStreams();
  try {
    if (auto status = hx::cli::runValidateCommand(argc, argv, stdout, stderr)) return *status;
    const hx::cli::ParseOutcome parsed = hx::cli::parseCommandLine(argc, argv, stdout, stderr);
    if (!parsed.command) return parsed.exitStatus;
    return hx::cli::runCommand(*parsed.command, stdout, stderr);
  } catch (const std::bad_alloc&) {
    std::fputs("harmidex: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "harmidex: %s\n", e.what());
  }
  return hx::cli::kExitFailure;
}
