#include "cli/validate.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/call_line.h"
#include "cli/option_numbers.h"
#include "cli/options.h"
#include "cli/session.h"
#include "cli/validate_calls.h"
#include "host/host.h"
#include "host/module.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace hx::cli {
namespace {

namespace fs = std::filesystem;

struct ValidateOptions {
  std::string modulePath;
  uint64_t seed = 1;
  uint64_t calls = 100000;
  std::string filesDir;
  uint64_t cycles = 1000;
  uint64_t objects = 10000;
};

// Script objects that take turns in the random calls.
constexpr int kInterleavedObjects = 3;
// Every so many objects of the lifecycle phase also open a file first.
constexpr uint64_t kOpenEvery = 100;

// The first word that is neither an option nor --module's value.
bool asksForValidate(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--module") {
      ++i;
      continue;
    }
    if (a.rfind("-", 0) == 0) continue;
    return a == kValidateCommand;
  }
  return false;
}

// A folder of our own for fixture files and logs, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
#ifdef _WIN32
    const std::string tag = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
#else
    const std::string tag = std::to_string(getpid());
#endif
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      fs::path p = base / ("harmidex-validate-" + tag + "-" + std::to_string(i));
      if (fs::create_directory(p, ec)) path_ = p.string();
    }
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Violation {
  std::string phase;
  uint64_t index = 0;  // 1-based cycle, object or call
  std::string rule;
  std::string call;
};

struct Figures {
  uint64_t cycles = 0;
  uint64_t objects = 0;
  CallFigures calls;
};

std::string countersText(const host::Host& h) {
  return std::to_string(h.liveValues()) + " values, " + std::to_string(h.liveBlocks()) +
         " blocks, " + std::to_string(h.interfaceReferences()) + " interface references, " +
         std::to_string(h.protocolErrors()) + " misuses";
}

bool hostIsClean(const host::Host& h) {
  return h.liveValues() == 0 && h.liveBlocks() == 0 && h.interfaceReferences() == 0 &&
         h.protocolErrors() == 0;
}

constexpr HxStatus kStillInUse = static_cast<HxStatus>(0x80040003u);

// Load, make an object, unload: DllCanUnloadNow says "in use" exactly while
// the object lives.
bool runCycles(const ValidateOptions& o, Figures& figures, Violation& v) {
  v.phase = "load/unload cycle";
  for (uint64_t i = 1; i <= o.cycles; ++i) {
    v.index = i;
    host::Host host;
    std::string error;
    std::unique_ptr<host::Module> module = host::Module::load(o.modulePath, &error);
    if (module == nullptr) return v.rule = error, false;
    if (module->entry().canUnloadNow() != 0)
      return v.rule = "DllCanUnloadNow is not 0 right after loading", false;
    auto object = host::ScriptObject::create(host, *module, &error);
    if (object == nullptr) return v.rule = "cannot create a script object: " + error, false;
    if (module->entry().canUnloadNow() != kStillInUse)
      return v.rule = "DllCanUnloadNow is not 0x80040003 while an object lives", false;
    const HxValue n = host.makeInteger(256);
    HxValue bands = object->call(methodId("getEqualizedFreqCount"), {&n, 1});
    const bool nine = host.integerOf(bands) == 9;
    HxValue tmp = n;
    host.release(tmp);
    host.release(bands);
    if (!nine) return v.rule = "getEqualizedFreqCount(256) did not give 9", false;
    object.reset();
    if (module->entry().canUnloadNow() != 0)
      return v.rule = "DllCanUnloadNow is not 0 after the object is gone", false;
    module.reset();
    if (!hostIsClean(host)) return v.rule = "after unloading the host counts " + countersText(host), false;
    ++figures.cycles;
  }
  return true;
}

// Objects made and destroyed on one host: everything back to zero each time.
bool runObjects(const ValidateOptions& o, const std::vector<std::string>& files, Figures& figures,
                Violation& v) {
  v.phase = "object lifecycle";
  host::Host host;
  std::string error;
  std::unique_ptr<host::Module> module = host::Module::load(o.modulePath, &error);
  if (module == nullptr) return v.rule = error, false;
  for (uint64_t i = 1; i <= o.objects; ++i) {
    v.index = i;
    auto object = host::ScriptObject::create(host, *module, &error);
    if (object == nullptr) return v.rule = "cannot create a script object: " + error, false;
    // Destroying an object with a file open must close it too.
    if (i % kOpenEvery == 1 && !files.empty()) {
      HxValue path = host.makeString(files.front());
      HxValue id = object->call(methodId("openQuicktimeFile"), {&path, 1});
      host.release(path);
      host.release(id);
    }
    object.reset();
    if (!hostIsClean(host))
      return v.rule = "after destroying the object the host counts " + countersText(host), false;
    if (module->entry().canUnloadNow() != 0)
      return v.rule = "DllCanUnloadNow is not 0 after the object is gone", false;
    ++figures.objects;
  }
  return true;
}

// What a crash report names: the call being made, kept ready to print,
// since a signal handler cannot build text.
char gCrashNote[768] = "";

void writeCrashNote(int signal) {
  char head[64];
  std::snprintf(head, sizeof head, "harmidex validate: signal %d during ", signal);
#ifndef _WIN32
  (void)!write(2, head, std::strlen(head));
  (void)!write(2, gCrashNote, std::strlen(gCrashNote));
  (void)!write(2, "\n", 1);
#else
  std::fputs(head, stderr);
  std::fputs(gCrashNote, stderr);
  std::fputs("\n", stderr);
#endif
}

extern "C" void onCrash(int signal) {
  writeCrashNote(signal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void noteCallForCrashes(uint64_t seed, uint64_t index, const std::string& call) {
  std::snprintf(gCrashNote, sizeof gCrashNote, "random call %" PRIu64 " (seed %" PRIu64 "): %s",
                index, seed, call.c_str());
}

void catchCrashes() {
  for (int s : {SIGSEGV, SIGFPE, SIGILL, SIGABRT}) std::signal(s, onCrash);
}

bool runCalls(const ValidateOptions& o, const CallFixtures& fixtures, Figures& figures,
              Violation& v) {
  v.phase = "random calls";
  host::Host host;
  std::string error;
  std::unique_ptr<host::Module> module = host::Module::load(o.modulePath, &error);
  if (module == nullptr) return v.rule = error, false;
  CallValidator validator(host, *module, fixtures, kInterleavedObjects);
  SeededChoices choices(o.seed);
  validator.beforeCall = [&](const std::string& call) { noteCallForCrashes(o.seed, v.index, call); };
  catchCrashes();
  bool ok = validator.violation().empty();
  for (uint64_t i = 1; ok && i <= o.calls; ++i) {
    v.index = i;
    ok = validator.step(choices);
  }
  if (ok) ok = validator.finish();
  figures.calls = validator.figures();
  if (!ok) {
    v.rule = validator.violation();
    v.call = validator.lastCall();
  }
  return ok;
}

// Regular files of dir, in name order.
std::vector<std::string> filesIn(const std::string& dir, std::string* error) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path().string());
  if (ec) *error = "cannot read the folder " + dir + ": " + ec.message();
  std::sort(files.begin(), files.end());
  return files;
}

double peakMegabytes() {
#ifndef _WIN32
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) return static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
  return 0.0;
}

void printFigures(std::FILE* out, const ValidateOptions& o, const Figures& f, double seconds) {
  const CallFigures& c = f.calls;
  std::fprintf(out, "module                %s\n", o.modulePath.c_str());
  std::fprintf(out, "seed                  %" PRIu64 "\n", o.seed);
  std::fprintf(out, "load/unload cycles    %" PRIu64 " (DllCanUnloadNow 0 after each)\n", f.cycles);
  std::fprintf(out, "objects               %" PRIu64 " made and destroyed (host counters 0 after each)\n",
               f.objects);
  std::fprintf(out, "calls                 %" PRIu64 ": %" PRIu64 " successes, %" PRIu64
                    " failures, %d objects in turn, %" PRIu64 " objects made\n",
               c.calls, c.successes, c.failures, kInterleavedObjects, c.objectsMade);
  std::fprintf(out, "calls by method      ");
  for (size_t m = 0; m < kMethodSlots; ++m) {
    const std::string name = m < kMethodNames.size() ? std::string(kMethodNames[m]) : "outside";
    std::fprintf(out, " %s %" PRIu64, name.c_str(), c.byMethod[m]);
  }
  std::fprintf(out, "\n");
  std::fprintf(out, "files                 %" PRIu64 " opened, %" PRIu64 " closed by closeFile\n",
               c.filesOpened, c.filesClosed);
  std::fprintf(out, "list values           %" PRIu64 " (longest list %" PRIu64 ")\n", c.listValues,
               c.longestList);
  std::fprintf(out, "peak resident memory  %.0f MiB\n", peakMegabytes());
  std::fprintf(out, "time                  %.1f s\n", seconds);
}

}  // namespace

std::optional<int> runValidateCommand(int argc, const char* const* argv, std::FILE* out,
                                      std::FILE* err) {
  if (!asksForValidate(argc, argv)) return std::nullopt;
  ValidateOptions o;
  CLI::App app("Checks the module against the rules every host relies on.", "harmidex");
  app.fallthrough();
  app.add_option("--module", o.modulePath, "Module to load (default: next to this program)")
      ->type_name("PATH");
  CLI::App* validate = app.add_subcommand(kValidateCommand, "Validates the module");
  addNumber(validate, "--seed", o.seed, kAnyCount, "Seed of the random calls (default 1)");
  addNumber(validate, "--calls", o.calls, kAnyCount, "Number of random calls (default 100000)");
  validate->add_option("--files", o.filesDir,
                       "Folder whose files the calls may open, besides generated WAV files")
      ->type_name("DIR");
  addNumber(validate, "--cycles", o.cycles, kAnyCount, "Load/unload cycles (default 1000)");
  addNumber(validate, "--objects", o.objects, kAnyCount,
            "Objects made and destroyed (default 10000)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(validate->help().c_str(), out);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::fprintf(err, "harmidex: %s\nRun with validate --help for more information.\n", e.what());
    return kExitUsage;
  }
  if (o.modulePath.empty()) {
    o.modulePath = defaultModulePath();
  } else {
    std::error_code ec;
    const fs::path p = fs::absolute(o.modulePath, ec);
    if (!ec) o.modulePath = p.string();
  }

  ScratchDir scratch;
  if (scratch.path().empty()) {
    std::fputs("harmidex validate: cannot make a temporary folder\n", err);
    return kExitFailure;
  }
  CallFixtures fixtures;
  fixtures.scratchDir = scratch.path();
  fixtures.files = writeFixtureFiles(scratch.path());
  if (fixtures.files.empty()) {
    std::fputs("harmidex validate: cannot write the fixture files\n", err);
    return kExitFailure;
  }
  if (!o.filesDir.empty()) {
    std::string error;
    std::vector<std::string> more = filesIn(o.filesDir, &error);
    if (!error.empty()) {
      std::fprintf(err, "harmidex validate: %s\n", error.c_str());
      return kExitUsage;
    }
    fixtures.files.insert(fixtures.files.end(), more.begin(), more.end());
  }

  const auto started = std::chrono::steady_clock::now();
  Figures figures;
  Violation v;
  const bool ok = runCycles(o, figures, v) && runObjects(o, fixtures.files, figures, v) &&
                  runCalls(o, fixtures, figures, v);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  printFigures(out, o, figures, seconds);
  if (ok) {
    std::fprintf(out, "violations            0\n");
    return kExitOk;
  }
  std::fprintf(out, "violations            1\n");
  std::fprintf(err, "harmidex validate: %s %" PRIu64 " broke a rule (seed %" PRIu64 "): %s\n",
               v.phase.c_str(), v.index, o.seed, v.rule.c_str());
  if (!v.call.empty()) std::fprintf(err, "harmidex validate:   call: %s\n", v.call.c_str());
  if (v.phase == "random calls")
    std::fprintf(err, "harmidex validate:   again: harmidex validate --seed %" PRIu64
                      " --calls %" PRIu64 " --cycles 0 --objects 0\n",
                 o.seed, v.index);
  return kExitFailure;
}

}  // namespace hx::cli
