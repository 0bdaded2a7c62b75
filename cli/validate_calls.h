// Script calls made up from a stream of choices and run through our host,
// each checked against the rules every host relies on: Call answers
// success, at most one result is written, a failure gives the integer 0
// (an open: its error code) with an error text, a success leaves
// "no error.", fileIDs follow the object's counter, and nothing is left
// behind. Shared by `harmidex validate` (seeded random choices) and the
// script fuzzer (the fuzzer's bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/validate_fixtures.h"
#include "host/host.h"
#include "host/module.h"

namespace hx::cli {

// Where the choices come from.
class ChoiceSource {
 public:
  virtual ~ChoiceSource() = default;
  // A number in [0, bound); 0 when bound is 0.
  virtual uint32_t below(uint32_t bound) = 0;
  // False once a finite source has run dry (it then answers 0).
  virtual bool more() const { return true; }
};

// Seeded, and the same sequence on every platform (splitmix64).
class SeededChoices : public ChoiceSource {
 public:
  explicit SeededChoices(uint64_t seed) : state_(seed) {}
  uint32_t below(uint32_t bound) override;

 private:
  uint64_t state_;
};

// A fuzzer's bytes: one byte per choice of up to 256 values, four otherwise.
class ByteChoices : public ChoiceSource {
 public:
  ByteChoices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t below(uint32_t bound) override;
  bool more() const override { return pos_ < size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Method numbers 0 to 8 of the table, then one slot for numbers outside it.
inline constexpr size_t kMethodSlots = 10;

struct CallFigures {
  uint64_t calls = 0;
  uint64_t successes = 0;
  uint64_t failures = 0;  // integer 0 or an open's code, with an error text
  std::array<uint64_t, kMethodSlots> byMethod{};
  uint64_t filesOpened = 0;
  uint64_t filesClosed = 0;
  uint64_t objectsMade = 0;
  uint64_t listValues = 0;  // values in list results, all calls
  uint64_t longestList = 0;
};

class CallValidator {
 public:
  // objects: how many script objects take turns (at least 1).
  CallValidator(host::Host& host, host::Module& module, CallFixtures fixtures, int objects);
  ~CallValidator();
  CallValidator(const CallValidator&) = delete;
  CallValidator& operator=(const CallValidator&) = delete;

  // Makes up one call from the choices, runs it and checks it. False when
  // a rule was broken: violation() says which, lastCall() shows the call.
  bool step(ChoiceSource& choices);
  // Destroys the objects and checks that the host counts nothing any more
  // and that the module may be unloaded. False with violation() set.
  bool finish();

  // Called with each call's description just before it runs, so that a
  // crash can still name the call.
  std::function<void(const std::string&)> beforeCall;

  const std::string& violation() const { return violation_; }
  const std::string& lastCall() const { return lastCall_; }
  const CallFigures& figures() const { return figures_; }

  struct Object;
  struct Arg;

 private:
  bool fail(std::string what);
  bool makeObject(size_t slot);
  bool check(Object& object, int32_t method, const std::vector<Arg>& args, const HxValue& result,
             const std::string& text);
  bool checkFile(Object& object, int32_t method, const std::vector<Arg>& args,
                 const HxValue& result, bool succeeded, const std::string& text);
  std::vector<Arg> makeArgs(ChoiceSource& c, const Object& object, int32_t method);
  Arg randomArg(ChoiceSource& c, const Object& object);
  Arg intArg(ChoiceSource& c, const Object& object);
  Arg floatArg(ChoiceSource& c, const Object& object);
  Arg stringArg(ChoiceSource& c);
  Arg fileIdArg(ChoiceSource& c, const Object& object);
  std::string describe(size_t slot, int32_t method, const std::vector<Arg>& args) const;

  host::Host* host_;
  host::Module* module_;
  CallFixtures fixtures_;
  std::vector<std::string> strings_;  // the string arguments besides file paths
  std::vector<std::unique_ptr<Object>> objects_;
  CallFigures figures_;
  std::string violation_;
  std::string lastCall_;
};

}  // namespace hx::cli
