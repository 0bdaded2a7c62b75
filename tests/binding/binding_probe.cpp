// One process of a library-search scenario (search_scenario.sh sets up the
// files and registry values around it):
//   binding_probe [--preload PATH] --expect none|PATH [--install FROM TO]
// --preload loads a runtime before the first operation, as a host would.
// --expect none: every operation answers as with no runtime, twice, and no
// runtime stays loaded; with --install, the runtime copied to TO afterwards
// is then found by the next operation. --expect PATH: the first operation
// resolves the runtime, loaded from PATH. Exit status 0 when all holds.
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/media_ops.h"
#include "audio/qt_binding.h"

namespace {

int gFailures = 0;

void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++gFailures;
}

std::string normalized(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
  std::string single;
  for (char c : path)
    if (!(c == '\\' && !single.empty() && single.back() == '\\')) single += c;
  return single;
}

// Every runtime loaded in the process, by file path.
std::vector<std::string> loadedRuntimes() {
  std::vector<std::string> paths;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {"?"};
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    if (lstrcmpiA(entry.szModule, hx::qt::kRuntimeLibrary) == 0) paths.push_back(entry.szExePath);
  CloseHandle(snapshot);
  return paths;
}

std::string ownPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n < sizeof path ? n : 0);
}

// The first operation the reader makes, on a file that exists.
hx::OSErr firstOperation() {
  hx::FSSpec spec{};
  return hx::qt::quickTimeMediaOps().NativePathNameToFSSpec(ownPath().c_str(), &spec, 0);
}

void expectNotLoaded(const char* round) {
  std::printf("-- %s\n", round);
  const hx::MediaOps& ops = hx::qt::quickTimeMediaOps();
  check(firstOperation() == hx::notLoadedResult, "an error operation answers -2095");
  check(ops.NewHandle(0) == nullptr, "NewHandle answers null, not -2095 as an address");
  check(ops.GetMovieIndTrackType(nullptr, 1, hx::kAudioCharacteristic, 6) == nullptr,
        "GetMovieIndTrackType answers null");
  ops.HLock(nullptr);  // void operations just return
  ops.DisposeHandle(nullptr);
  check(!hx::qt::quickTimeResolved(), "the binding stays unresolved");
  check(loadedRuntimes().empty(), "no runtime is left loaded");
}

void expectLoadedFrom(const std::string& expected) {
  const hx::OSErr first = firstOperation();
  std::printf("first operation: %d\n", first);
  check(first == hx::noErr, "the first operation reaches the runtime");
  check(hx::qt::quickTimeResolved(), "the binding is resolved");
  const std::vector<std::string> loaded = loadedRuntimes();
  for (const std::string& path : loaded) std::printf("runtime loaded: %s\n", path.c_str());
  check(loaded.size() == 1 && normalized(loaded[0]) == normalized(expected),
        ("one runtime, loaded from " + expected).c_str());
  const hx::MediaOps& ops = hx::qt::quickTimeMediaOps();
  hx::Handle h = ops.NewHandle(0);
  check(h != nullptr, "NewHandle gives a handle");
  ops.DisposeHandle(h);
}

int usage() {
  std::fprintf(stderr, "usage: binding_probe [--preload PATH] --expect none|PATH [--install FROM TO]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* preload = nullptr;
  const char* expect = nullptr;
  const char* installFrom = nullptr;
  const char* installTo = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--preload") == 0 && i + 1 < argc) {
      preload = argv[++i];
    } else if (std::strcmp(argv[i], "--expect") == 0 && i + 1 < argc) {
      expect = argv[++i];
    } else if (std::strcmp(argv[i], "--install") == 0 && i + 2 < argc) {
      installFrom = argv[++i];
      installTo = argv[++i];
    } else {
      return usage();
    }
  }
  if (expect == nullptr) return usage();

  if (preload != nullptr && LoadLibraryA(preload) == nullptr) {
    std::fprintf(stderr, "cannot preload %s\n", preload);
    return 2;
  }
  if (std::strcmp(expect, "none") == 0) {
    expectNotLoaded("first operation");
    expectNotLoaded("the next operation searches again");
    if (installTo != nullptr) {
      std::printf("-- runtime installed at %s\n", installTo);
      if (!CopyFileA(installFrom, installTo, FALSE)) {
        std::fprintf(stderr, "cannot copy %s to %s\n", installFrom, installTo);
        return 2;
      }
      expectLoadedFrom(installTo);
    }
  } else {
    expectLoadedFrom(expect);
  }
  return gFailures == 0 ? 0 : 1;
}
