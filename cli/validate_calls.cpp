#include "cli/validate_calls.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "cli/validate_call_parts.h"

namespace hx::cli {
namespace {

using namespace validate_parts;

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

}  // namespace hx::cli
