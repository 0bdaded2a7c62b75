// Runs the built harmidex command as a user would: arguments as given,
// standard input from a text, output and errors captured separately.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/media_files.h"

namespace hx::test {

struct CommandResult {
  int status = -1;  // exit status; 128 + signal number when the command died
  std::string out;
  std::string err;

  std::vector<std::string> lines() const;  // of out, without the line feeds
};

// The command next to the module in the build tree (HX_BUILD_DIR).
std::string harmidexPath();

// Runs program with args in the folder cwd (the current one when empty).
CommandResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "", const std::string& cwd = "");

inline CommandResult runHarmidex(const std::vector<std::string>& args,
                                 const std::string& input = "", const std::string& cwd = "") {
  return runProgram(harmidexPath(), args, input, cwd);
}

// For failure messages: everything the command said.
std::string describe(const CommandResult& r);

}  // namespace hx::test
