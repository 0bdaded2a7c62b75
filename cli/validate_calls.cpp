#include "cli/validate_calls.h"

#include <algorithm>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <utility>

#include "cli/call_line.h"

namespace hx::cli {

// ---- choices ---------------------------------------------------------------

uint32_t SeededChoices::below(uint32_t bound) {
  if (bound == 0) return 0;
  state_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<uint32_t>((z >> 32) % bound);
}

uint32_t ByteChoices::below(uint32_t bound) {
  if (bound == 0) return 0;
  const size_t width = bound <= 256 ? 1 : 4;
  uint32_t v = 0;
  for (size_t i = 0; i < width && pos_ < size_; ++i) v = (v << 8) | data_[pos_++];
  return v % bound;
}

// ---- fixtures --------------------------------------------------------------

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// A PCM WAV file around data (interleaved little-endian frames).
std::vector<uint8_t> wavBytes(uint32_t rate, uint16_t channels, uint16_t bits,
                              const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  put32(out, uint32_t(36 + data.size()));
  for (char c : std::string("WAVEfmt ")) out.push_back(uint8_t(c));
  put32(out, 16);
  put16(out, 1);
  put16(out, channels);
  put32(out, rate);
  put32(out, rate * channels * (bits / 8));
  put16(out, uint16_t(channels * (bits / 8)));
  put16(out, bits);
  for (char c : std::string("data")) out.push_back(uint8_t(c));
  put32(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// frames x channels 16-bit samples of a tone, with one sample at -32768.
std::vector<uint8_t> tone16(size_t frames, int channels, double period) {
  std::vector<uint8_t> data;
  for (size_t i = 0; i < frames; ++i)
    for (int ch = 0; ch < channels; ++ch) {
      int v = static_cast<int>(std::lround(20000.0 * std::sin(6.283185307179586 * i / period)));
      if (i == frames / 2 && ch == 0) v = -32768;
      put16(data, static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
  return data;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

}  // namespace

std::vector<std::string> writeFixtureFiles(const std::string& dir) {
  std::vector<uint8_t> eightBit;
  for (int i = 0; i < 2000; ++i) eightBit.push_back(uint8_t(128 + 100 * std::sin(i / 7.0)));
  const std::string text = "not a sound file\n";
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"tone-mono16.wav", wavBytes(44100, 1, 16, tone16(11025, 1, 44.1))},
      {"tone-stereo16.wav", wavBytes(22050, 2, 16, tone16(4000, 2, 16.0))},
      {"tone-mono8.wav", wavBytes(8000, 1, 8, eightBit)},
      {"one-frame.wav", wavBytes(44100, 1, 16, tone16(1, 1, 4.0))},
      {"no-frames.wav", wavBytes(44100, 1, 16, {})},
      {"not-audio.txt", std::vector<uint8_t>(text.begin(), text.end())}};
  std::vector<std::string> paths;
  for (const auto& [name, bytes] : files) {
    const std::string path = dir + "/" + name;
    if (!writeFile(path, bytes)) return {};
    paths.push_back(path);
  }
  return paths;
}

// ---- calls -----------------------------------------------------------------

struct CallValidator::Arg {
  enum class Kind { Integer, Float, String, List, Void, Object };
  Kind kind = Kind::Void;
  int32_t integer = 0;
  double real = 0.0;
  std::string text;
  int listShape = 0;  // 0 empty, 1 flat, 2 nested

  static Arg ofInt(int32_t n) {
    Arg a;
    a.kind = Kind::Integer;
    a.integer = n;
    return a;
  }
  static Arg ofFloat(double x) {
    Arg a;
    a.kind = Kind::Float;
    a.real = x;
    return a;
  }
  static Arg ofString(std::string s) {
    Arg a;
    a.kind = Kind::String;
    a.text = std::move(s);
    return a;
  }
};

struct CallValidator::Object {
  std::unique_ptr<host::ScriptObject> script;
  uint64_t serial = 0;
  int32_t nextFileId = 1;
  std::vector<int32_t> open;
  std::vector<int32_t> closed;
  std::string text;  // the last-error text as last read
};

namespace {

using Arg = CallValidator::Arg;
using Kind = Arg::Kind;

constexpr int32_t kNew = methodId("new");
constexpr int32_t kOpen = methodId("openQuicktimeFile");
constexpr int32_t kClose = methodId("closeFile");
constexpr int32_t kSamples = methodId("getSamples");
constexpr int32_t kAmplitude = methodId("getAmplitude");
constexpr int32_t kFFT = methodId("getFFT");
constexpr int32_t kRate = methodId("getSampleRate");
constexpr int32_t kBands = methodId("getEqualizedFreqCount");
constexpr int32_t kGetError = methodId("getError");

constexpr char kNoError[] = "no error.";
// The longest path the open method reads.
constexpr size_t kPathChars = 1023;
constexpr size_t kLongString = 64 * 1024;

constexpr int32_t kOddMethods[] = {-1, 9, INT32_MIN, INT32_MAX};

// Large counts are either refused by the module or small enough that the
// host's list of their values stays a few megabytes: raw random 32-bit
// numbers would ask for lists of a hundred million values.
constexpr int32_t kExtremeInts[] = {INT32_MIN, INT32_MIN + 1, -65536, -1, 0, 1, 2, 3, 255, 256,
                                    8192, 8193, 16384, 65536, 1 << 30, INT32_MAX - 1, INT32_MAX};

const double kSpecialFloats[] = {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 -0.0,
                                 0.0,
                                 1e308,
                                 -1e308,
                                 std::numeric_limits<double>::denorm_min(),
                                 DBL_MIN / 4,
                                 DBL_MIN,
                                 2.9,
                                 -2.9,
                                 0.5,
                                 128.0,
                                 256.0,
                                 2147483647.0,
                                 2147483648.0,
                                 -2147483648.0,
                                 -2147483649.0,
                                 1e10};

template <class T, size_t N>
T pick(ChoiceSource& c, const T (&table)[N]) {
  return table[c.below(N)];
}

size_t methodSlot(int32_t method) {
  return method >= 0 && method < kGetError + 1 ? static_cast<size_t>(method) : kMethodSlots - 1;
}

bool contains(const std::vector<int32_t>& v, int32_t n) {
  return std::find(v.begin(), v.end(), n) != v.end();
}

// What the argument readers make of a number: truncation toward zero;
// nothing for NaN, infinities, values outside int32 and non-numbers.
std::optional<int32_t> intReading(const Arg& a) {
  if (a.kind == Kind::Integer) return a.integer;
  if (a.kind != Kind::Float || !std::isfinite(a.real)) return std::nullopt;
  const double t = std::trunc(a.real);
  if (t < -2147483648.0 || t > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(t);
}

// The band count of getEqualizedFreqCount for n.
int32_t bandCount(int32_t n) {
  if (n == 0) return 0;
  if (n < 2) return 1;
  int32_t c = 0;
  for (int64_t v = 1; v < n; v *= 2) ++c;
  return c + 1;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  const size_t shown = s.size() > 80 ? 40 : s.size();
  for (size_t i = 0; i < shown; ++i) {
    const unsigned char ch = static_cast<unsigned char>(s[i]);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20 || ch >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", ch);
      out += buf;
    } else {
      out += static_cast<char>(ch);
    }
  }
  out += '"';
  if (shown < s.size()) out += "... (" + std::to_string(s.size()) + " bytes)";
  return out;
}

std::string argText(const Arg& a) {
  char buf[64];
  switch (a.kind) {
    case Kind::Integer: return std::to_string(a.integer);
    case Kind::Float:
      std::snprintf(buf, sizeof buf, "%.17g", a.real);
      // Marked as a float even when it prints as a whole number.
      if (std::isfinite(a.real) && !std::strpbrk(buf, ".e")) std::strcat(buf, ".0");
      return buf;
    case Kind::String: return quoted(a.text);
    case Kind::List: return a.listShape == 0 ? "[]" : a.listShape == 1 ? "[1, 2.5, \"x\"]" : "[[1], []]";
    case Kind::Void: return "<void>";
    case Kind::Object: return "<object>";
  }
  return "?";
}

// The host value of an argument, owned by the caller.
HxValue makeValue(host::Host& host, const Arg& a) {
  switch (a.kind) {
    case Kind::Integer: return host.makeInteger(a.integer);
    case Kind::Float: return host.makeFloat(a.real);
    case Kind::String: return host.makeString(a.text);
    case Kind::Object: return host.makeObject();
    case Kind::Void: return host::kVoidValue;
    case Kind::List: break;
  }
  HxValue list = host.makeList();
  std::vector<HxValue> items;
  if (a.listShape == 1) {
    items = {host.makeInteger(1), host.makeFloat(2.5), host.makeString("x")};
  } else if (a.listShape == 2) {
    HxValue inner = host.makeList();
    HxValue one = host.makeInteger(1);
    host.append(inner, one);
    host.release(one);
    items = {inner, host.makeList()};
  }
  for (HxValue& v : items) {
    host.append(list, v);
    host.release(v);
  }
  return list;
}

// Argument values of one call, released when it is over.
class ArgValues {
 public:
  ArgValues(host::Host& host, const std::vector<Arg>& args) : host_(&host) {
    for (const Arg& a : args) values_.push_back(makeValue(host, a));
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

struct Counters {
  int64_t values, blocks, references, protocolErrors;
  static Counters of(const host::Host& h) {
    return {h.liveValues(), h.liveBlocks(), h.interfaceReferences(), h.protocolErrors()};
  }
};

}  // namespace

CallValidator::CallValidator(host::Host& host, host::Module& module, CallFixtures fixtures,
                             int objects)
    : host_(&host), module_(&module), fixtures_(std::move(fixtures)) {
  // Every path a call names lies in the scratch folder, so that a log
  // started by `new` never lands anywhere else.
  const std::string dir = fixtures_.scratchDir + "/";
  strings_ = {"",
              dir + "missing.wav",
              fixtures_.scratchDir,
              dir + "validate.log",
              dir + "\xFF\xFE\xC3\x28 \x80.wav",
              dir + "line\nfeed.wav",
              dir + std::string(1000, 'b'),
              dir + std::string(kLongString - dir.size(), 'a')};
  objects_.resize(static_cast<size_t>(std::max(objects, 1)));
  for (size_t i = 0; i < objects_.size() && violation_.empty(); ++i) makeObject(i);
}

CallValidator::~CallValidator() { objects_.clear(); }

bool CallValidator::fail(std::string what) {
  if (violation_.empty()) violation_ = std::move(what);
  return false;
}

bool CallValidator::makeObject(size_t slot) {
  objects_[slot].reset();
  auto object = std::make_unique<Object>();
  std::string error;
  object->script = host::ScriptObject::create(*host_, *module_, &error, /*callNew=*/true);
  if (object->script == nullptr) return fail("cannot create a script object: " + error);
  object->serial = ++figures_.objectsMade;
  HxValue text = object->script->call(kGetError);
  const auto s = host_->stringOf(text);
  host_->release(text);
  if (!s || !s->empty()) return fail("a new object's error text is not the empty text");
  objects_[slot] = std::move(object);
  return true;
}

bool CallValidator::step(ChoiceSource& c) {
  if (!violation_.empty()) return false;
  size_t slot = c.below(static_cast<uint32_t>(objects_.size()));
  // Now and then an object goes, with whatever files it holds, and a new one comes.
  if (c.below(512) == 0) {
    lastCall_ = "destroying object " + std::to_string(objects_[slot]->serial);
    if (!makeObject(slot)) return false;
  }
  Object& o = *objects_[slot];

  int32_t method;
  const uint32_t r = c.below(24);
  if (r < 2) method = kNew;
  else if (r < 6) method = kOpen;
  else if (r < 9) method = kClose;
  else if (r < 11) method = kSamples;
  else if (r < 13) method = kAmplitude;
  else if (r < 16) method = kFFT;
  else if (r < 18) method = kRate;
  else if (r < 19) method = kBands;
  else if (r < 21) method = kGetError;
  else method = pick(c, kOddMethods);
  const std::vector<Arg> args = makeArgs(c, o, method);
  lastCall_ = describe(slot, method, args);
  if (beforeCall) beforeCall(lastCall_);

  const Counters before = Counters::of(*host_);
  HxValue result;
  {
    ArgValues values(*host_, args);
    result = o.script->call(method, values.values());
  }
  HxValue textValue = o.script->call(kGetError);
  const std::optional<std::string> text = host_->stringOf(textValue);
  host_->release(textValue);
  ++figures_.calls;
  ++figures_.byMethod[methodSlot(method)];
  bool ok = true;
  if (host_->protocolErrors() != before.protocolErrors) {
    const auto& log = host_->protocolErrorLog();
    ok = fail("the call misused the host (" + (log.empty() ? std::string("?") : log.back()) + ")");
  } else if (!text) {
    ok = fail("getError did not answer a string");
  } else {
    ok = check(o, method, args, result, *text);
  }
  if (host_->typeOf(result) == HX_TYPE_LIST) {
    const uint64_t n = host_->elementsOf(result).size();
    figures_.listValues += n;
    figures_.longestList = std::max(figures_.longestList, n);
  }
  host_->release(result);
  const Counters after = Counters::of(*host_);
  if (ok && after.values != before.values)
    ok = fail("the call left " + std::to_string(after.values - before.values) +
              " host values behind (a second result, or a value not released)");
  if (ok && (after.blocks != before.blocks || after.references != before.references))
    ok = fail("the call left host blocks or interface references behind");
  return ok;
}

bool CallValidator::check(Object& o, int32_t method, const std::vector<Arg>& args,
                          const HxValue& result, const std::string& text) {
  const int32_t type = host_->typeOf(result);
  const std::string before = o.text;
  o.text = text;
  if (method == kGetError) {
    const auto s = host_->stringOf(result);
    if (!s || *s != before || text != before)
      return fail("getError did not hand back the last error text unchanged");
    ++figures_.successes;
    return true;
  }
  if (method == kNew) {
    if (!args.empty() && args[0].kind != Kind::String) {
      if (host_->integerOf(result) != 0 || text != "logFile should be a string")
        return fail("new with a logFile that is not text must give 0 and its error text");
      ++figures_.failures;
      return true;
    }
    if (type != HX_TYPE_VOID) return fail("new wrote a result");
    if (text != before) return fail("new changed the error text");
    ++figures_.successes;
    return true;
  }
  if (method < 0 || method > kGetError) {
    if (type != HX_TYPE_VOID) return fail("a method number outside the table wrote a result");
    if (text != kNoError) return fail("a method number outside the table did not leave \"no error.\"");
    ++figures_.successes;
    return true;
  }
  const bool succeeded = text == kNoError;
  if (!succeeded) {
    ++figures_.failures;
    if (text.empty()) return fail("a failed call left an empty error text");
    const auto n = host_->integerOf(result);
    if (!n) return fail("a failed call did not give an integer");
    if (method != kOpen && *n != 0) return fail("a failed call gave " + std::to_string(*n) + ", not 0");
    if (method == kOpen && *n != 0 && text.rfind("cannot open ", 0) != 0)
      return fail("a failed open gave a code without its \"cannot open\" text");
  } else {
    ++figures_.successes;
  }
  return checkFile(o, method, args, result, succeeded, text);
}

// What a success must have given, and what the fileIDs allow.
bool CallValidator::checkFile(Object& o, int32_t method, const std::vector<Arg>& args,
                              const HxValue& result, bool succeeded, const std::string& text) {
  // A plain flag and number: GCC 12 warns falsely about a std::optional here.
  const std::optional<int32_t> reading = args.empty() ? std::nullopt : intReading(args[0]);
  const bool hasId = reading.has_value();
  const int32_t id = reading.value_or(0);
  if (!succeeded) {
    int32_t unknown = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "unknown fileID %" SCNd32 "%c", &unknown, &tail) == 1) {
      if (!hasId || id != unknown) return fail("\"unknown fileID\" names another fileID");
      if (contains(o.open, unknown)) return fail("an open fileID was reported unknown");
    }
    return true;
  }
  const int32_t type = host_->typeOf(result);
  if (method == kOpen) {
    const auto n = host_->integerOf(result);
    if (!n || *n != o.nextFileId)
      return fail("a successful open did not give the next fileID " + std::to_string(o.nextFileId));
    const std::string path = args[0].text.substr(0, kPathChars);
    if (std::find(fixtures_.files.begin(), fixtures_.files.end(), path) == fixtures_.files.end())
      return fail("an open succeeded on a path that is no sound file");
    o.open.push_back(o.nextFileId++);
    ++figures_.filesOpened;
    return true;
  }
  if (method == kBands) {
    const auto n = args.empty() ? std::nullopt : intReading(args[0]);
    if (!n || host_->integerOf(result) != bandCount(*n))
      return fail("getEqualizedFreqCount gave a wrong count");
    return true;
  }
  if (!hasId || !contains(o.open, id)) return fail("a call on a fileID that is not open succeeded");
  switch (method) {
    case kClose:
      if (host_->integerOf(result) != 1) return fail("a successful closeFile did not give 1");
      o.open.erase(std::find(o.open.begin(), o.open.end(), id));
      o.closed.push_back(id);
      ++figures_.filesClosed;
      return true;
    case kRate: {
      const auto x = host_->floatOf(result);
      if (!x || !(*x > 0.0) || !std::isfinite(*x)) return fail("getSampleRate gave no positive float");
      return true;
    }
    case kAmplitude: {
      const auto x = host_->floatOf(result);
      if (!x || !(*x >= 0.0 && *x <= 1.0)) return fail("getAmplitude gave no float in [0, 1]");
      return true;
    }
    case kSamples: {
      const auto count = args.size() > 2 ? intReading(args[2]) : std::nullopt;
      if (type != HX_TYPE_LIST || !count ||
          host_->elementsOf(result).size() != static_cast<size_t>(*count))
        return fail("getSamples did not give nbSamples values");
      break;
    }
    case kFFT: {
      const auto bins = args.size() > 2 ? intReading(args[2]) : std::optional<int32_t>(256);
      const auto equalized = args.size() > 6 ? intReading(args[6]) : std::optional<int32_t>(0);
      if (type != HX_TYPE_LIST || !bins || !equalized || *bins < 1)
        return fail("getFFT succeeded without a list or with an unreadable binCount");
      const size_t expected = static_cast<size_t>(*equalized != 0 ? bandCount(*bins) : *bins);
      if (host_->elementsOf(result).size() != expected)
        return fail("getFFT gave " + std::to_string(host_->elementsOf(result).size()) +
                    " values, not " + std::to_string(expected));
      break;
    }
    default:
      return fail("unexpected method");
  }
  for (const HxValue& v : host_->elementsOf(result))
    if (host_->typeOf(v) != HX_TYPE_FLOAT) return fail("a list result holds a value that is no float");
  return true;
}

bool CallValidator::finish() {
  objects_.clear();
  if (!violation_.empty()) return false;
  lastCall_ = "destroying every object";
  if (host_->liveValues() != 0 || host_->liveBlocks() != 0 || host_->interfaceReferences() != 0 ||
      host_->protocolErrors() != 0)
    return fail("after the last object the host still counts " +
                std::to_string(host_->liveValues()) + " values, " +
                std::to_string(host_->liveBlocks()) + " blocks, " +
                std::to_string(host_->interfaceReferences()) + " interface references, " +
                std::to_string(host_->protocolErrors()) + " misuses");
  if (module_->entry().canUnloadNow() != 0)
    return fail("DllCanUnloadNow is not 0 after the last object");
  return true;
}

// ---- making up arguments -------------------------------------------------------

CallValidator::Arg CallValidator::fileIdArg(ChoiceSource& c, const Object& o) {
  const auto any = [&](const std::vector<int32_t>& v) {
    return v.empty() ? std::nullopt : std::optional<int32_t>(v[c.below(uint32_t(v.size()))]);
  };
  std::optional<int32_t> id;
  switch (c.below(6)) {
    case 0:
    case 1: id = any(o.open); break;
    case 2: id = any(o.closed); break;
    case 3: id = o.nextFileId; break;  // never issued
    case 4: {
      const Object& other = *objects_[c.below(uint32_t(objects_.size()))];
      id = any(other.open);
      break;
    }
    default: id = pick(c, kExtremeInts); break;
  }
  return Arg::ofInt(id.value_or(o.nextFileId));
}

CallValidator::Arg CallValidator::intArg(ChoiceSource& c, const Object& o) {
  switch (c.below(4)) {
    case 0: return Arg::ofInt(pick(c, kExtremeInts));
    case 1: return fileIdArg(c, o);
    case 2: return Arg::ofInt(static_cast<int32_t>(c.below(700)) - 100);
    default: return Arg::ofInt(int32_t{1} << c.below(17));
  }
}

CallValidator::Arg CallValidator::floatArg(ChoiceSource& c, const Object& o) {
  switch (c.below(3)) {
    case 0: return Arg::ofFloat(pick(c, kSpecialFloats));
    case 1: {
      const double fractions[] = {0.0, 0.9, -0.5};
      return Arg::ofFloat(fileIdArg(c, o).integer + pick(c, fractions));
    }
    default: return Arg::ofFloat((static_cast<double>(c.below(4000)) - 1000.0) / 8.0);
  }
}

CallValidator::Arg CallValidator::stringArg(ChoiceSource& c) {
  if (!fixtures_.files.empty() && c.below(3) == 0)
    return Arg::ofString(fixtures_.files[c.below(uint32_t(fixtures_.files.size()))]);
  return Arg::ofString(strings_[c.below(uint32_t(strings_.size()))]);
}

CallValidator::Arg CallValidator::randomArg(ChoiceSource& c, const Object& o) {
  const uint32_t k = c.below(12);
  if (k < 4) return intArg(c, o);
  if (k < 7) return floatArg(c, o);
  if (k < 9) return stringArg(c);
  Arg a;
  a.kind = k == 9 ? Kind::List : k == 10 ? Kind::Void : Kind::Object;
  a.listShape = static_cast<int>(c.below(3));
  return a;
}

std::vector<CallValidator::Arg> CallValidator::makeArgs(ChoiceSource& c, const Object& o,
                                                        int32_t method) {
  std::vector<Arg> args;
  // Half the calls are made of anything, up to nine arguments.
  if (c.below(2) == 0 || method < 0 || method > kGetError) {
    const uint32_t n = c.below(10);
    for (uint32_t i = 0; i < n; ++i) args.push_back(randomArg(c, o));
    return args;
  }
  // The others are shaped like the method's own, so that successes are checked too.
  const auto start = [&] {
    switch (c.below(3)) {
      case 0: return Arg::ofInt(static_cast<int32_t>(c.below(30000)) - 1000);
      case 1: return Arg::ofInt(pick(c, kExtremeInts));
      default: return Arg::ofInt(0);
    }
  };
  const auto count = [&] {
    switch (c.below(4)) {
      case 0: return Arg::ofInt(static_cast<int32_t>(c.below(5000)));
      case 1: return Arg::ofInt(0);
      case 2: return Arg::ofInt(pick(c, kExtremeInts));
      default: return Arg::ofInt(int32_t{1} << c.below(17));
    }
  };
  switch (method) {
    case kNew:
      if (c.below(3) != 0) args.push_back(c.below(2) ? Arg::ofString(strings_[3]) : stringArg(c));
      break;
    case kOpen:
      if (!fixtures_.files.empty() && c.below(4) != 0)
        args.push_back(Arg::ofString(fixtures_.files[c.below(uint32_t(fixtures_.files.size()))]));
      else
        args.push_back(stringArg(c));
      break;
    case kClose:
    case kRate: args.push_back(fileIdArg(c, o)); break;
    case kSamples:
    case kAmplitude:
      args = {fileIdArg(c, o), start(), count()};
      if (method == kSamples && c.below(2)) args.push_back(floatArg(c, o));
      break;
    case kFFT: {
      // binCount and timesmooth whose product overflows are among the choices.
      const int32_t oddTimes[] = {0, -1, 1 << 17, 1 << 30, INT32_MAX};
      args.push_back(fileIdArg(c, o));
      const uint32_t optional = c.below(7);
      if (optional > 0) args.push_back(start());
      if (optional > 1)
        args.push_back(c.below(4) ? Arg::ofInt(int32_t{1} << c.below(14)) : intArg(c, o));
      if (optional > 2)
        args.push_back(Arg::ofInt(c.below(4) ? static_cast<int32_t>(1 + c.below(8)) : pick(c, oddTimes)));
      if (optional > 3) args.push_back(floatArg(c, o));
      if (optional > 4) args.push_back(Arg::ofInt(static_cast<int32_t>(c.below(2))));
      if (optional > 5) args.push_back(Arg::ofInt(static_cast<int32_t>(c.below(2))));
      break;
    }
    case kBands: args.push_back(intArg(c, o)); break;
    default: break;
  }
  return args;
}

std::string CallValidator::describe(size_t slot, int32_t method,
                                    const std::vector<Arg>& args) const {
  std::string s = "object " + std::to_string(objects_[slot]->serial) + ": ";
  s += method >= 0 && method <= kGetError ? std::string(kMethodNames[static_cast<size_t>(method)])
                                          : "method#" + std::to_string(method);
  s += '(';
  for (size_t i = 0; i < args.size(); ++i) s += (i ? ", " : "") + argText(args[i]);
  return s + ')';
}

}  // namespace hx::cli
