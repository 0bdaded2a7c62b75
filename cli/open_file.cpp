#include "cli/open_file.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "audio/open_failures.h"
#include "cli/call_line.h"
#include "cli/output.h"

namespace hx::cli {
namespace {

std::string adviceFor(int32_t code, const std::string& path) {
  if (path.empty()) return "harmidex: the file path is empty.";
  if (code == notAFileErr) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
      return "harmidex: " + path + " is a directory; give the path of an audio file in it.";
    return "harmidex: " + path + " is not a regular file (a device, pipe or socket?).";
  }
  const OpenFailure* f = findOpenFailure(code);
  if (f == nullptr || f->advice == nullptr) return {};
  return "harmidex: " + path + f->advice;
}

}  // namespace

std::string openCodeMeaning(int32_t code) {
  const OpenFailure* f = findOpenFailure(code);
  return f != nullptr ? f->meaning : "not a code of the media layers";
}

std::string explainOpenFailure(const std::string& moduleText, int32_t code,
                               const std::string& path) {
  std::string text = moduleText + " (code " + std::to_string(code) + ": " + openCodeMeaning(code) + ")";
  const std::string advice = adviceFor(code, path);
  if (!advice.empty()) text += "\n" + advice;
  return text;
}

bool openFirstFile(Session& session, const std::string& path, std::FILE* err) {
  std::vector<Literal> args;
  args.emplace_back(path);
  OwnedValue id = session.call(methodId("openQuicktimeFile"), args);
  const auto n = session.host().integerOf(id.get());
  if (n && *n == kFirstFileId) return true;
  // 0 is an argument error, whose text says it all; any other number is
  // the open's error code.
  if (!n || *n == 0)
    writeLine(err, session.lastError());
  else
    writeLine(err, explainOpenFailure(session.lastError(), *n, path));
  return false;
}

}  // namespace hx::cli
