// libFuzzer target for the script surface: the input is read as a sequence
// of choices that make up script calls (cli/validate_calls.h), run through
// our host against the module's code, every call checked against the rules
// a host relies on, and everything checked back to zero at the end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <unistd.h>

#include "cli/validate_calls.h"
#include "host/host.h"
#include "host/module.h"
#include "hx_entry.h"

namespace {

// Calls per input; longer inputs only repeat what shorter ones reach.
constexpr int kMaxCalls = 64;

hx::cli::CallFixtures gFixtures;

hx::host::EntryPoints linkedModule() {
  hx::host::EntryPoints entry;
  entry.getClassInfo = DllGetClassInfo;
  entry.getClassForm = DllGetClassForm;
  entry.getInterface = DllGetInterface;
  entry.canUnloadNow = DllCanUnloadNow;
  entry.getClassObject = DllGetClassObject;
  return entry;
}

[[noreturn]] void broken(const hx::cli::CallValidator& v) {
  std::fprintf(stderr, "fuzz_script: %s\n  call: %s\n", v.violation().c_str(), v.lastCall().c_str());
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::error_code ec;
  const auto dir = std::filesystem::temp_directory_path(ec) /
                   ("hx-fuzz-script-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir, ec);
  gFixtures.scratchDir = dir.string();
  gFixtures.files = hx::cli::writeFixtureFiles(gFixtures.scratchDir);
  if (gFixtures.files.empty()) {
    std::fprintf(stderr, "fuzz_script: cannot write fixture files in %s\n", dir.c_str());
    __builtin_trap();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hx::host::Host host;
  std::unique_ptr<hx::host::Module> module = hx::host::Module::fromEntryPoints(linkedModule());
  {
    hx::cli::ByteChoices choices(data, size);
    // The first byte chooses how many objects take turns.
    const int objects = 1 + static_cast<int>(choices.below(3));
    hx::cli::CallValidator validator(host, *module, gFixtures, objects);
    for (int i = 0; i < kMaxCalls && choices.more(); ++i)
      if (!validator.step(choices)) broken(validator);
    if (!validator.finish()) broken(validator);
  }
  return 0;
}
