// The shared host and module of a Python process, and a Sound's script object.
#include "python/src/module_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "analysis/working_buffers.h"
#include "cli/open_file.h"
#include "python/src/lean_host.h"
#include "script/method_facts.h"

namespace hx::pyhost {
namespace {

// A result value, released at scope end.
class Result {
 public:
  Result(LeanHost& host, HxValue v) : host_(host), v_(v) {}
  ~Result() { host_.release(v_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  const HxValue& get() const { return v_; }

 private:
  LeanHost& host_;
  HxValue v_;
};

constexpr const char* kModuleFileName = "harmidex.so";

// Frames asked of one getSamples call: well below the module's list cap, so
// that its working buffers (6 bytes a frame) stay small beside the result
// and in cache. Each frame's value does not depend on the others in its call.
constexpr int64_t kSamplesPerCall = int64_t{1} << 16;
static_assert(kSamplesPerCall <= kMaxListValues);

// Loaded on first use and kept for the life of the process: a Sound
// collected while the interpreter shuts down still finds its host, so
// neither is ever destroyed.
struct Shared {
  LeanHost host;
  host::Host registrar;  // the strict host, for the one registration
  std::unique_ptr<host::Module> module;
};

Shared& shared() {
  static Shared* s = new Shared;
  return *s;
}

std::string extensionFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&modulePath), &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  const auto file = std::filesystem::weakly_canonical(info.dli_fname, ec);
  return ec ? std::string() : file.parent_path().string();
}

// The module, loaded when first needed; the lock is held.
host::Module& loadedModule() {
  Shared& s = shared();
  if (s.module != nullptr) return *s.module;
  const std::string path = modulePath();
  std::string error;
  std::unique_ptr<host::Module> module = host::Module::load(path, &error);
  if (module == nullptr) throw std::runtime_error("cannot load the harmidex module: " + error);
  // A host registers a module's classes once, after loading it.
  if (HxStatus status = module->registerClasses(s.registrar); status != HX_OK)
    throw std::runtime_error("the harmidex module at " + path + " did not register its classes");
  s.module = std::move(module);
  return *s.module;
}

std::unique_ptr<host::ScriptObject> newObject() {
  std::string error;
  auto object = host::ScriptObject::create(shared().host, loadedModule(), &error, /*callNew=*/true);
  if (object == nullptr) throw std::runtime_error("cannot create a harmidex object: " + error);
  return object;
}

// The module reads 32-bit frame numbers.
int32_t frameArg(int64_t n, const char* name) {
  if (n < INT32_MIN || n > INT32_MAX)
    throw std::invalid_argument(std::string(name) + " must fit in 32 bits (the module numbers frames so)");
  return static_cast<int32_t>(n);
}

}  // namespace

std::mutex& moduleLock() {
  static std::mutex m;
  return m;
}

std::string modulePath() {
  if (const char* forced = std::getenv("HARMIDEX_MODULE"); forced != nullptr && *forced != '\0')
    return forced;
  const std::filesystem::path folder = extensionFolder();
  const std::filesystem::path beside = folder / kModuleFileName;
#ifdef HARMIDEX_PY_MODULE_DIR
  std::error_code ec;
  const std::filesystem::path installed = folder / HARMIDEX_PY_MODULE_DIR / kModuleFileName;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
    return installed.lexically_normal().string();
#endif
  return beside.string();
}

HostCounters hostCounters() {
  std::lock_guard lock(moduleLock());
  LeanHost& h = shared().host;
  return {h.liveValues(), h.liveBlocks(), h.interfaceReferences(), h.protocolErrors()};
}

int32_t bandCount(int32_t bins) {
  std::lock_guard lock(moduleLock());
  LeanHost& h = shared().host;
  auto object = newObject();
  CallArgs args(h);
  args.add(bins);
  Result n(h, object->call(kMethodGetEqualizedFreqCount, args));
  const auto count = h.integerOf(n.get());
  if (!count) throw std::runtime_error("getEqualizedFreqCount gave no integer");
  return *count;
}

// ---- NativeSound ------------------------------------------------------------

NativeSound::NativeSound(const std::string& path) : path_(path) {
  // The frame count decodes the track itself, beside the module's decode.
  MediaCount count(path_);

  std::lock_guard lock(moduleLock());
  LeanHost& h = shared().host;
  object_ = newObject();
  std::optional<int32_t> id;
  {
    CallArgs args(h);
    args.add(std::string_view(path));
    Result result(h, object_->call(kMethodOpenQuicktimeFile, args));
    id = h.integerOf(result.get());
  }
  if (!id || *id <= 0) {
    const int32_t code = id.value_or(0);
    const std::string text = lastError();
    object_.reset();
    // 0 is an argument error, whose text says it all.
    throw OpenFailure(code, text, code == 0 ? text : cli::explainOpenFailure(text, code, path), path);
  }
  fileId_ = *id;
  CallArgs args(h);
  args.add(fileId_);
  Result rate(h, object_->call(kMethodGetSampleRate, args));
  const auto x = h.floatOf(rate.get());
  if (!x || !(*x > 0)) {
    const std::string text = lastError();
    object_.reset();
    throw std::runtime_error("getSampleRate gave no rate for " + path + ": " + text);
  }
  rate_ = *x;
  media_ = count.result(rate_);
  frames_ = media_.frames;
}

NativeSound::~NativeSound() { close(); }

void NativeSound::close() {
  std::lock_guard lock(moduleLock());
  if (object_ == nullptr) return;
  LeanHost& h = shared().host;
  {
    CallArgs args(h);
    args.add(fileId_);
    Result ignored(h, object_->call(kMethodCloseFile, args));
  }
  object_.reset();
}

void NativeSound::requireOpen() const {
  if (object_ == nullptr) throw std::domain_error("I/O operation on a closed Sound");
}

std::string NativeSound::lastError() {
  LeanHost& h = shared().host;
  Result text(h, object_->call(kMethodGetError));
  return h.stringOf(text.get()).value_or("(getError gave no text)");
}

void NativeSound::listCall(int32_t method, std::span<const HxValue> args, std::vector<float>& out) {
  LeanHost& h = shared().host;
  // The module appends to what earlier calls gave, in place.
  h.lendStorage(std::move(out));
  Result result(h, object_->call(method, args));
  if (auto floats = h.takeFloats(result.get())) {
    out = std::move(*floats);
    return;
  }
  out = h.reclaimStorage();
  if (!h.isList(result.get())) throw MethodFailure(lastError());
  throw std::runtime_error("the module gave a list that is not all floats");
}

std::vector<float> NativeSound::samples(int64_t start, int64_t count, double amplMax) {
  std::lock_guard lock(moduleLock());
  requireOpen();
  LeanHost& h = shared().host;
  std::vector<float> out;
  const int32_t first = frameArg(start, "start");
  if (count < 0) {
    // The module's own refusal, with its text.
    CallArgs args(h);
    args.add(fileId_).add(first).add(int32_t(std::max<int64_t>(count, INT32_MIN))).add(amplMax);
    listCall(kMethodGetSamples, args, out);
    return out;
  }
  frameArg(start + count, "start + count");
  // Any length of the track may be read, but zeros far past its end are a
  // mistake, not data: memory stays bounded by the track.
  const int64_t end = frames_ >= 0 ? frames_ : 0;
  if (start + count > end + kMaxListValues)
    throw std::invalid_argument("start + count reaches more than " + std::to_string(kMaxListValues) +
                                " frames past the end of the track");
  out.reserve(size_t(count));
  int64_t done = 0;
  do {
    const int64_t n = std::min<int64_t>(kSamplesPerCall, count - done);
    CallArgs args(h);
    args.add(fileId_).add(int32_t(start + done)).add(int32_t(n)).add(amplMax);
    listCall(kMethodGetSamples, args, out);
    done += n;
  } while (done < count);
  if (out.size() != size_t(count)) throw std::runtime_error("the module gave a list of the wrong length");
  return out;
}

double NativeSound::amplitude(int64_t start, int64_t count) {
  std::lock_guard lock(moduleLock());
  requireOpen();
  LeanHost& h = shared().host;
  const int32_t first = frameArg(start, "start");
  auto call = [&](int32_t from, int32_t n) {
    CallArgs args(h);
    args.add(fileId_).add(from).add(n);
    Result result(h, object_->call(kMethodGetAmplitude, args));
    const auto x = h.floatOf(result.get());
    if (!x) throw MethodFailure(lastError());
    return *x;
  };
  if (count < 0) return call(first, int32_t(std::max<int64_t>(count, INT32_MIN)));
  frameArg(start + count, "start + count");
  double peak = 0;
  int64_t done = 0;
  do {
    const int64_t n = std::min<int64_t>(kMaxListValues, count - done);
    peak = std::max(peak, call(int32_t(start + done), int32_t(n)));
    done += n;
  } while (done < count);
  return peak;
}

std::vector<float> NativeSound::fft(int64_t start, int32_t bins, int32_t timesmooth,
                                    double amplMax, bool normalized, bool equalized) {
  std::lock_guard lock(moduleLock());
  requireOpen();
  CallArgs args(shared().host);
  args.add(fileId_).add(frameArg(start, "start")).add(bins).add(timesmooth).add(amplMax)
      .add(int32_t{normalized ? 1 : 0}).add(int32_t{equalized ? 1 : 0});
  std::vector<float> out;
  out.reserve(size_t(std::clamp(bins, 1, 8192)));
  listCall(kMethodGetFFT, args, out);
  return out;
}

std::vector<float> NativeSound::columns(const std::vector<int64_t>& starts, int32_t bins,
                                        int32_t timesmooth, bool normalized, bool equalized,
                                        int64_t maxCells, int32_t* rows) {
  std::vector<float> out;
  *rows = 0;
  for (size_t col = 0; col < starts.size(); ++col) {
    // The lock is given up between columns, so other threads' calls interleave.
    std::lock_guard lock(moduleLock());
    requireOpen();
    CallArgs args(shared().host);
    args.add(fileId_).add(frameArg(starts[col], "a column's start")).add(bins).add(timesmooth)
        .add(kDefaultAmplMax).add(int32_t{normalized ? 1 : 0}).add(int32_t{equalized ? 1 : 0});
    const size_t before = out.size();
    listCall(kMethodGetFFT, args, out);
    if (col == 0) {
      *rows = int32_t(out.size());
      if (*rows == 0 || int64_t(*rows) * int64_t(starts.size()) > maxCells)
        throw std::length_error("the spectrogram would hold more than " + std::to_string(maxCells) +
                                " values; give a larger hop or fewer bins");
      out.reserve(size_t(*rows) * starts.size());
    } else if (out.size() - before != size_t(*rows)) {
      throw std::runtime_error("the module gave columns of different lengths");
    }
  }
  return out;
}

}  // namespace hx::pyhost
