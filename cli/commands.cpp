#include "cli/commands.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <istream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/call_line.h"
#include "cli/formats.h"
#include "cli/open_file.h"
#include "cli/output.h"
#include "cli/pictures.h"
#include "cli/session.h"
#include "script/method_facts.h"

namespace hx::cli {
namespace {

void writeError(std::FILE* err, const std::string& text) { writeLine(err, text); }

bool writeLines(std::FILE* out, const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (!writeLine(out, line)) return false;
  return true;
}

// Flushes out; a lost line is a failure, not a silent success.
int finishOutput(std::FILE* out, std::FILE* err, int status) {
  errno = 0;
  const bool flushed = std::fflush(out) == 0;
  const int error = errno;
  if (flushed && std::ferror(out) == 0) return status;
  writeError(err, std::string("harmidex: cannot write to standard output") +
                      (!flushed && error != 0 ? std::string(": ") + std::strerror(error) : ""));
  return status == kExitOk ? kExitFailure : status;
}

}  // namespace

std::optional<std::vector<double>> listFloats(host::Host& host, int32_t method,
                                              const HxValue& list, std::FILE* err) {
  const std::vector<HxValue> elements = host.elementsOf(list);
  std::vector<double> values;
  values.reserve(elements.size());
  for (size_t i = 0; i < elements.size(); ++i) {
    const std::optional<double> x = host.floatOf(elements[i]);
    if (!x) {
      writeError(err, "harmidex: " + std::string(hx::kMethodNames[size_t(method)]) +
                          " gave a list whose value " + std::to_string(i) +
                          " is not a float: " + host.format(elements[i]));
      return std::nullopt;
    }
    values.push_back(*x);
  }
  return values;
}

std::string methodFailureText(const Command& c, const std::string& moduleText) {
  struct Named {
    const char* argument;  // as the module's texts name it
    const char* option;
    std::optional<std::string> value;
  };
  const auto text = [](std::optional<int32_t> n) {
    return n ? std::optional<std::string>(formatInteger(*n)) : std::nullopt;
  };
  const Named names[] = {
      {"startsample", "--start", text(c.start)},
      {"nbSamples", "--count", text(c.count)},
      {"binCount", "--bins", text(c.bins)},
      {"timesmooth", "--timesmooth", text(c.timesmooth)},
      {"amplMax", "--ampl-max", c.amplMax ? std::optional(formatFloat(*c.amplMax)) : std::nullopt}};
  const std::string word = moduleText.substr(0, moduleText.find(' '));
  for (const Named& n : names)
    if (word == n.argument && n.value)
      return "harmidex: " + std::string(n.option) + " " + *n.value + ": " + moduleText;
  return "harmidex: " + moduleText;
}

// A relative --module is taken from the current folder; the system loader
// would search its library path for a bare file name instead.
std::string modulePathOf(const Command& command) {
  if (command.modulePath.empty()) return defaultModulePath();
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(command.modulePath, ec);
  return ec ? command.modulePath : path.string();
}

bool startSession(Session& session, const Command& command, std::FILE* err) {
  const std::string path = modulePathOf(command);
  if (path.empty()) {
    writeError(err, "harmidex: cannot find this program's folder; give the module with --module");
    return false;
  }
  std::string error;
  if (session.start(path, &error)) return true;
  writeError(err, "harmidex: " + error);
  return false;
}

namespace {

// Calls the method and prints its result when it has the expected type;
// any other result (the module's 0) means failure, explained by getError.
int printResult(Session& session, const Command& command, int32_t method,
                const std::vector<Literal>& args, int32_t expectedType, std::FILE* out,
                std::FILE* err) {
  OwnedValue result = session.call(method, args);
  if (session.host().typeOf(result.get()) != expectedType) {
    writeError(err, methodFailureText(command, session.lastError()));
    return kExitFailure;
  }
  return writeLines(out, resultLines(session.host(), result.get())) ? kExitOk : kExitFailure;
}

// Integer arguments. (Built element by element: GCC 12 warns falsely on
// initializer lists of variants that hold a string.)
std::vector<Literal> intArgs(std::initializer_list<int32_t> values) {
  std::vector<Literal> args;
  for (int32_t v : values) args.emplace_back(v);
  return args;
}

// getFFT arguments after fileID. The method stops reading at the first
// missing optional argument, so everything before the last one given is
// passed, with the method's own defaults where the user gave nothing.
std::vector<Literal> fftArguments(const Command& c) {
  std::vector<Literal> args =
      intArgs({kFirstFileId, c.start.value_or(0), c.bins.value_or(kDefaultBinCount),
               c.timesmooth.value_or(kDefaultTimesmooth)});
  args.emplace_back(c.amplMax.value_or(kDefaultAmplMax));
  args.emplace_back(int32_t{c.normalized ? 1 : 0});
  args.emplace_back(int32_t{c.equalized ? 1 : 0});
  const bool given[] = {true, c.start.has_value(), c.bins.has_value(), c.timesmooth.has_value(),
                        c.amplMax.has_value(), c.normalized, c.equalized};
  size_t used = 0;
  for (size_t i = 0; i < args.size(); ++i)
    if (given[i]) used = i + 1;
  args.resize(used);
  return args;
}

std::vector<Literal> sampleArguments(const Command& c) {
  std::vector<Literal> args = intArgs({kFirstFileId, c.start.value_or(0), c.count.value_or(0)});
  if (c.amplMax) args.emplace_back(*c.amplMax);
  return args;
}

int printFileMethod(Session& session, const Command& c, std::FILE* out, std::FILE* err) {
  if (c.table || c.format != Format::Text) return printReport(session, c, out, err);
  switch (c.action) {
    case Action::Fft:
      return printResult(session, c, methodId("getFFT"), fftArguments(c), HX_TYPE_LIST, out, err);
    case Action::Samples:
      return printResult(session, c, methodId("getSamples"), sampleArguments(c), HX_TYPE_LIST, out,
                         err);
    case Action::Amplitude:
      return printResult(session, c, methodId("getAmplitude"),
                         intArgs({kFirstFileId, c.start.value_or(0), c.count.value_or(0)}),
                         HX_TYPE_FLOAT, out, err);
    case Action::Rate:
      return printResult(session, c, methodId("getSampleRate"), intArgs({kFirstFileId}),
                         HX_TYPE_FLOAT, out, err);
    default:
      return kExitUsage;
  }
}

// The frames the method reads: [first, end).
std::optional<std::pair<int64_t, int64_t>> framesRead(const Command& c) {
  const int64_t start = c.start.value_or(kDefaultStart);
  switch (c.action) {
    case Action::Samples:
    case Action::Amplitude:
      return std::pair(start, start + c.count.value_or(0));
    case Action::Fft:
      return std::pair(start, start + 2 * int64_t(c.bins.value_or(kDefaultBinCount)) *
                                          c.timesmooth.value_or(kDefaultTimesmooth));
    default:
      return std::nullopt;
  }
}

// The module gives 0 for frames outside the track, which looks like
// silence; one line says that this was not the file's own.
void noteFramesOutside(Session& session, const Command& c, TrackLength& length, std::FILE* err) {
  const auto read = framesRead(c);
  if (!read || read->second <= read->first) return;
  OwnedValue rate = session.call(methodId("getSampleRate"), intArgs({kFirstFileId}));
  const std::optional<double> x = session.host().floatOf(rate.get());
  if (!x || *x <= 0) return;
  const int64_t frames = length.frames(*x);
  if (frames < 0 || (read->first >= 0 && read->second <= frames)) return;
  writeError(err, "harmidex: note: the track has " + std::to_string(frames) +
                      " frames; the frames asked for outside 0 to " + std::to_string(frames - 1) +
                      " are given as 0");
}

int runFileMethod(Session& session, const Command& c, std::FILE* out, std::FILE* err) {
  TrackLength length(c.file);
  if (!openFirstFile(session, c.file, err)) return kExitFailure;
  const int status = printFileMethod(session, c, out, err);
  if (status == kExitOk) noteFramesOutside(session, c, length, err);
  return status;
}

// One line of a call script: the result as a console shows it.
// kExitOk to go on, kExitUsage for a line that is not a known call.
int runCallLine(Session& session, const std::string& line, long lineNumber, std::FILE* out,
                std::FILE* err) {
  const ParsedLine parsed = parseCallLine(line);
  const std::string where = "harmidex: line " + std::to_string(lineNumber) + ": ";
  if (parsed.kind == ParsedLine::Kind::Skip) return kExitOk;
  if (parsed.kind == ParsedLine::Kind::Error) {
    writeError(err, where + parsed.error);
    return kExitUsage;
  }
  const auto method = methodNumber(parsed.call.method);
  if (!method) {
    writeError(err, where + "unknown method '" + parsed.call.method + "'");
    return kExitUsage;
  }
  OwnedValue result = session.call(*method, parsed.call.args);
  if (!writeLine(out, session.host().format(result.get()))) return kExitFailure;
  std::fflush(out);  // a console answers each line as it comes
  return kExitOk;
}

enum class LineRead { kLine, kEnd, kTooLong };

// One line without its line feed, like getline, but never longer than
// kMaxCallLineBytes: a script read from /dev/zero must not fill memory.
LineRead readCallLine(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buffer == nullptr ? EOF : buffer->sbumpc();
    if (c == EOF) return any ? LineRead::kLine : LineRead::kEnd;
    if (c == '\n') return LineRead::kLine;
    if (line.size() >= kMaxCallLineBytes) return LineRead::kTooLong;
    line += static_cast<char>(c);
    any = true;
  }
}

int runScript(Session& session, std::istream& in, std::FILE* out, std::FILE* err) {
  std::string line;
  long lineNumber = 0;
  for (;;) {
    const LineRead read = readCallLine(in, line);
    if (read == LineRead::kEnd) break;
    ++lineNumber;
    if (read == LineRead::kTooLong) {
      writeError(err, "harmidex: line " + std::to_string(lineNumber) + ": longer than " +
                          std::to_string(kMaxCallLineBytes) + " bytes; a call fits on one short line");
      return kExitUsage;
    }
    const int status = runCallLine(session, line, lineNumber, out, err);
    if (status != kExitOk) return status;
  }
  if (in.bad()) {
    writeError(err, "harmidex: cannot read the script");
    return kExitFailure;
  }
  return kExitOk;
}

int runCall(const Command& c, std::FILE* out, std::FILE* err) {
  const bool fromStdin = c.file.empty() || c.file == "-";
  std::ifstream file;
  if (!fromStdin) {
    file.open(c.file, std::ios::binary);
    if (!file) {
      writeError(err, "harmidex: cannot open the script " + c.file);
      return kExitFailure;
    }
  }
  Session session;
  if (!startSession(session, c, err)) return kExitFailure;
  int status = runScript(session, fromStdin ? std::cin : file, out, err);
  const LeakReport leaks = session.finish();
  if (status == kExitOk && c.checkLeaks && !leaks.clean()) {
    writeError(err, "harmidex: leak check: " + leaks.summary());
    for (const std::string& what : leaks.protocolErrorLog) writeError(err, "harmidex:   " + what);
    status = kExitLeaks;
  }
  return status;
}

int runBands(const Command& c, std::FILE* out, std::FILE* err) {
  Session session;
  if (!startSession(session, c, err)) return kExitFailure;
  return printResult(session, c, methodId("getEqualizedFreqCount"), intArgs({c.nbbins}),
                     HX_TYPE_INTEGER, out, err);
}

int runFile(const Command& c, std::FILE* out, std::FILE* err) {
  Session session;
  if (!startSession(session, c, err)) return kExitFailure;
  return runFileMethod(session, c, out, err);
}

}  // namespace

int runCommand(const Command& command, std::FILE* out, std::FILE* err) {
  int status = kExitOk;
  switch (command.action) {
    case Action::Call: status = runCall(command, out, err); break;
    case Action::Bands: status = runBands(command, out, err); break;
    case Action::Info: status = runInfo(command, out, err); break;
    case Action::Spectrogram: status = runSpectrogram(command, out, err); break;
    case Action::Waveform: status = runWaveform(command, out, err); break;
    default: status = runFile(command, out, err); break;
  }
  return finishOutput(out, err, status);
}

}  // namespace hx::cli
