// The pieces the validator's two halves share: the shape of an argument
// and of an object, the method numbers and what a value is made of. Made
// up in validate_args.cpp, judged in validate_calls.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/call_line.h"
#include "cli/validate_calls.h"
#include "host/module.h"

namespace hx::cli {

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

namespace validate_parts {

using Arg = CallValidator::Arg;
using Kind = Arg::Kind;

inline constexpr int32_t kNew = methodId("new");
inline constexpr int32_t kOpen = methodId("openQuicktimeFile");
inline constexpr int32_t kClose = methodId("closeFile");
inline constexpr int32_t kSamples = methodId("getSamples");
inline constexpr int32_t kAmplitude = methodId("getAmplitude");
inline constexpr int32_t kFFT = methodId("getFFT");
inline constexpr int32_t kRate = methodId("getSampleRate");
inline constexpr int32_t kBands = methodId("getEqualizedFreqCount");
inline constexpr int32_t kGetError = methodId("getError");

inline constexpr char kNoError[] = "no error.";
// The longest path the open method reads.
inline constexpr size_t kPathChars = 1023;
inline constexpr size_t kLongString = 64 * 1024;

inline constexpr int32_t kOddMethods[] = {-1, 9, INT32_MIN, INT32_MAX};

template <class T, size_t N>
T pick(ChoiceSource& c, const T (&table)[N]) {
  return table[c.below(N)];
}

// The host value of an argument, owned by the caller.
HxValue makeValue(host::Host& host, const Arg& a);

}  // namespace validate_parts
}  // namespace hx::cli
