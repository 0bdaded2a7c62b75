// The call validator must notice a module that breaks a host's rules. The
// module's own code is linked in, and its script interface's Call is
// wrapped by one that breaks one rule after the real call has run.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "cli/validate_calls.h"
#include "common/media_files.h"
#include "host/host.h"
#include "host/module.h"
#include "hx_entry.h"
#include "hx_ids.h"
#include "script/script_interface.h"

namespace hx::test {
namespace {

enum class Fault {
  None,
  FailureStatus,        // Call answers the host with a failure status
  SecondResult,         // a second result overwrites the first
  NonZeroFailure,       // a failing method gives 1 instead of 0
  FileIdOffByOne,       // a successful open hands out the wrong fileID
  ShortSampleList,      // getSamples drops its last value
  ErrorTextOnSuccess,   // getSampleRate succeeds but leaves an error text
};

Fault gFault = Fault::None;
ScriptVtbl gPatched;

HxValueInterface* valuesOf(HxScript* script) {
  return reinterpret_cast<ScriptIface*>(script)->owner->valueInterface;
}

int32_t typeOf(HxValueInterface* values, const HxValue& v) {
  int32_t type = HX_TYPE_VOID;
  values->vtbl->ValueType(values, &v, &type);
  return type;
}

void replaceResult(HxValueInterface* values, HxCallRecord* call, int32_t n) {
  values->vtbl->ValueRelease(values, &call->result);
  values->vtbl->IntegerToValue(values, n, &call->result);
}

HxStatus HX_CALL faultyCall(HxScript* script, HxCallRecord* call) {
  const HxStatus status = Call(script, call);
  HxValueInterface* values = valuesOf(script);
  Instance* owner = reinterpret_cast<ScriptIface*>(script)->owner;
  const int32_t type = typeOf(values, call->result);
  int32_t n = -1;
  if (type == HX_TYPE_INTEGER) values->vtbl->ValueToInteger(values, &call->result, &n);
  switch (gFault) {
    case Fault::None: break;
    case Fault::FailureStatus: return static_cast<HxStatus>(0x80004005u);
    case Fault::SecondResult:
      // The same number written again: only the first value's leak shows.
      if (type == HX_TYPE_INTEGER) values->vtbl->IntegerToValue(values, n, &call->result);
      break;
    case Fault::NonZeroFailure:
      if (call->methodNumber >= kMethodCloseFile && call->methodNumber <= kMethodGetSampleRate &&
          n == 0)
        replaceResult(values, call, 1);
      break;
    case Fault::FileIdOffByOne:
      if (call->methodNumber == kMethodOpenQuicktimeFile && n > 0) replaceResult(values, call, n + 1);
      break;
    case Fault::ShortSampleList:
      if (call->methodNumber == kMethodGetSamples && type == HX_TYPE_LIST) {
        HxListInterface* lists = owner->listInterface;
        int32_t count = 0;
        lists->vtbl->CountElements(lists, &call->result, &count);
        if (count > 0) {
          HxValue shorter{};
          lists->vtbl->NewList(lists, &shorter);
          for (int32_t i = 0; i + 1 < count; ++i) {
            HxValue v{};
            lists->vtbl->GetValueByIndex(lists, &call->result, i, &v);
            lists->vtbl->AppendToList(lists, &shorter, &v);
            values->vtbl->ValueRelease(values, &v);
          }
          values->vtbl->ValueRelease(values, &call->result);
          call->result = shorter;
        }
      }
      break;
    case Fault::ErrorTextOnSuccess:
      if (call->methodNumber == kMethodGetSampleRate && type == HX_TYPE_FLOAT) {
        values->vtbl->ValueRelease(values, &owner->lastError);
        values->vtbl->StringToValue(values, "stale text", &owner->lastError);
      }
      break;
  }
  return status;
}

// DllGetInterface, with the script interface's Call wrapped.
HxStatus HX_CALL wrappedGetInterface(void* instance, const HxGuid* classId,
                                     const HxGuid* interfaceId, void** out) {
  const HxStatus status = DllGetInterface(instance, classId, interfaceId, out);
  static const HxGuid kScript = HX_IID_SCRIPT;
  if (status == HX_OK && host::sameGuid(*interfaceId, kScript))
    static_cast<ScriptIface*>(*out)->vtbl = &gPatched;
  return status;
}

host::EntryPoints wrappedModule() {
  gPatched = kScriptVtbl;
  gPatched.published.Call = faultyCall;
  host::EntryPoints entry;
  entry.getClassInfo = DllGetClassInfo;
  entry.getClassForm = DllGetClassForm;
  entry.getInterface = wrappedGetInterface;
  entry.canUnloadNow = DllCanUnloadNow;
  entry.getClassObject = DllGetClassObject;
  return entry;
}

struct Outcome {
  bool passed = false;
  std::string violation;
  cli::CallFigures figures;
};

Outcome runCalls(Fault fault, uint64_t seed, int calls) {
  gFault = fault;
  TempDir dir;
  cli::CallFixtures fixtures;
  fixtures.scratchDir = dir.path();
  fixtures.files = cli::writeFixtureFiles(dir.path());
  EXPECT_FALSE(fixtures.files.empty());
  Outcome outcome;
  {
    host::Host host;
    auto module = host::Module::fromEntryPoints(wrappedModule());
    {
      cli::CallValidator validator(host, *module, fixtures, 3);
      cli::SeededChoices choices(seed);
      bool ok = validator.violation().empty();
      for (int i = 0; ok && i < calls; ++i) ok = validator.step(choices);
      if (ok) ok = validator.finish();
      outcome = {ok, validator.violation(), validator.figures()};
    }
  }
  gFault = Fault::None;
  return outcome;
}

TEST(CallValidator, ModuleThatKeepsTheRulesPasses) {
  const Outcome o = runCalls(Fault::None, 7, 3000);
  EXPECT_TRUE(o.passed) << o.violation;
  // The run must reach both outcomes and real files, or it proves little.
  EXPECT_GT(o.figures.successes, 500u);
  EXPECT_GT(o.figures.failures, 500u);
  EXPECT_GT(o.figures.filesOpened, 20u);
  EXPECT_GT(o.figures.filesClosed, 5u);
  EXPECT_GT(o.figures.listValues, 0u);
  for (uint64_t n : o.figures.byMethod) EXPECT_GT(n, 0u);
}

struct FaultCase {
  const char* name;
  Fault fault;
  const char* expected;  // part of the violation text
};

class BrokenRule : public ::testing::TestWithParam<FaultCase> {};

TEST_P(BrokenRule, IsReported) {
  const FaultCase& c = GetParam();
  const Outcome o = runCalls(c.fault, 7, 3000);
  EXPECT_FALSE(o.passed);
  EXPECT_NE(o.violation.find(c.expected), std::string::npos) << o.violation;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenRule,
    ::testing::Values(
        FaultCase{"FailureStatus", Fault::FailureStatus, "misused the host"},
        FaultCase{"SecondResult", Fault::SecondResult, "host values behind"},
        FaultCase{"NonZeroFailure", Fault::NonZeroFailure, "gave 1, not 0"},
        FaultCase{"FileIdOffByOne", Fault::FileIdOffByOne, "did not give the next fileID"},
        FaultCase{"ShortSampleList", Fault::ShortSampleList, "did not give nbSamples values"},
        FaultCase{"ErrorTextOnSuccess", Fault::ErrorTextOnSuccess, "did not give an integer"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(CallValidator, SameSeedMakesTheSameCalls) {
  const Outcome a = runCalls(Fault::None, 99, 500);
  const Outcome b = runCalls(Fault::None, 99, 500);
  EXPECT_EQ(a.figures.byMethod, b.figures.byMethod);
  EXPECT_EQ(a.figures.successes, b.figures.successes);
  EXPECT_EQ(a.figures.listValues, b.figures.listValues);
}

TEST(ByteChoices, ReadsOneByteForSmallChoicesAndRunsDry) {
  const uint8_t bytes[] = {5, 0x01, 0x02, 0x03, 0x04};
  cli::ByteChoices c(bytes, sizeof bytes);
  EXPECT_EQ(c.below(3), 2u);
  EXPECT_EQ(c.below(1u << 20), 0x01020304u % (1u << 20));
  EXPECT_FALSE(c.more());
  EXPECT_EQ(c.below(7), 0u);
}

}  // namespace
}  // namespace hx::test
