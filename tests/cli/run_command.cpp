#include "run_command.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace hx::test {

std::vector<std::string> CommandResult::lines() const {
  std::vector<std::string> out;
  std::istringstream in(this->out);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string harmidexPath() {
  const char* dir = std::getenv("HX_BUILD_DIR");
  if (dir == nullptr) {
    ADD_FAILURE() << "HX_BUILD_DIR is not set; run the tests through ctest";
    return "harmidex";
  }
  return std::string(dir) + "/harmidex";
}

namespace {

// In the child: stdin/stdout/stderr from files, then the program.
[[noreturn]] void execChild(const std::string& program, const std::vector<std::string>& args,
                            const std::string& dir, const std::string& cwd) {
  const int in = open((dir + "/stdin").c_str(), O_RDONLY);
  const int out = open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(125);
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(125);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

std::string readText(const std::string& path) {
  const std::vector<uint8_t> bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

CommandResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& cwd) {
  TempDir io;
  CommandResult result;
  if (!writeBytes(io.file("stdin"), std::vector<uint8_t>(input.begin(), input.end()))) {
    ADD_FAILURE() << "cannot write the command's input";
    return result;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return result;
  }
  if (pid == 0) execChild(program, args, io.path(), cwd);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid failed";
      return result;
    }
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = readText(io.file("stdout"));
  result.err = readText(io.file("stderr"));
  return result;
}

std::string describe(const CommandResult& r) {
  return "exit status " + std::to_string(r.status) + "\n--- stdout:\n" + r.out.substr(0, 2000) +
         "\n--- stderr:\n" + r.err;
}

}  // namespace hx::test
