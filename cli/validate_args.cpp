// The validator's calls made up from a source of choices: the seeded and
// the byte-fed choices, the arguments of every kind, and their description.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "cli/validate_call_parts.h"

namespace hx::cli {

using namespace validate_parts;

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

// ---- arguments -------------------------------------------------------------

namespace {

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

}  // namespace

namespace validate_parts {

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

}  // namespace validate_parts

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
