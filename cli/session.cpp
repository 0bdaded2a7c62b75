#include "cli/session.h"

#include <filesystem>
#include <system_error>
#include <type_traits>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace hx::cli {
namespace {

// The host's value for a literal, owned by the caller.
HxValue makeValue(host::Host& host, const Literal& literal) {
  return std::visit(
      [&](const auto& v) -> HxValue {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, int32_t>)
          return host.makeInteger(v);
        else if constexpr (std::is_same_v<T, double>)
          return host.makeFloat(v);
        else
          return host.makeString(v);
      },
      literal);
}

// Argument values for one call, released when the call is over.
class ArgValues {
 public:
  ArgValues(host::Host& host, const std::vector<Literal>& args) : host_(&host) {
    values_.reserve(args.size());
    for (const Literal& a : args) values_.push_back(makeValue(host, a));
  }
  ~ArgValues() {
    for (HxValue& v : values_) host_->release(v);
  }
  ArgValues(const ArgValues&) = delete;
  ArgValues& operator=(const ArgValues&) = delete;

  const std::vector<HxValue>& values() const { return values_; }

 private:
  host::Host* host_;
  std::vector<HxValue> values_;
};

#ifdef _WIN32
std::string executablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};  // longer than any Windows path
    path.resize(path.size() * 2);
  }
}
constexpr const char* kModuleFileName = "harmidex.dll";
#else
std::string executablePath() {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}
constexpr const char* kModuleFileName = "harmidex.so";
#endif

}  // namespace

std::string LeakReport::summary() const {
  return std::to_string(liveValues) + " live values, " + std::to_string(liveBlocks) +
         " live blocks, " + std::to_string(interfaceReferences) + " interface references, " +
         std::to_string(protocolErrors) + " protocol errors";
}

std::string defaultModulePath() {
  const std::string exe = executablePath();
  if (exe.empty()) return {};
  const std::filesystem::path folder = std::filesystem::path(exe).parent_path();
  const std::filesystem::path beside = folder / kModuleFileName;
#ifdef HARMIDEX_INSTALLED_MODULE_DIR
  // Installed: the module lives in the library folder, found from the
  // program's own folder so that any install prefix works.
  std::error_code ec;
  const std::filesystem::path installed = folder / HARMIDEX_INSTALLED_MODULE_DIR / kModuleFileName;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
    return installed.lexically_normal().string();
#endif
  return beside.string();
}

Session::~Session() {
  // Members would go in this order too; spelled out because it matters.
  object_.reset();
  module_.reset();
}

bool Session::start(const std::string& modulePath, std::string* error) {
  module_ = host::Module::load(modulePath, error);
  if (module_ == nullptr) return false;
  std::string why;
  object_ = host::ScriptObject::create(host_, *module_, &why, /*callNew=*/true);
  if (object_ == nullptr) {
    *error = "cannot create the script object of " + modulePath + ": " + why;
    return false;
  }
  return true;
}

OwnedValue Session::call(int32_t method, const std::vector<Literal>& args) {
  ArgValues values(host_, args);
  return OwnedValue(host_, object_->call(method, values.values()));
}

std::string Session::lastError() {
  OwnedValue text = call(methodId("getError"));
  if (auto s = host_.stringOf(text.get())) return *s;
  return "(no error text: getError gave " + host_.format(text.get()) + ")";
}

LeakReport Session::finish() {
  object_.reset();
  module_.reset();
  LeakReport report;
  report.liveValues = host_.liveValues();
  report.liveBlocks = host_.liveBlocks();
  report.interfaceReferences = host_.interfaceReferences();
  report.protocolErrors = host_.protocolErrors();
  report.protocolErrorLog = host_.protocolErrorLog();
  return report;
}

}  // namespace hx::cli
