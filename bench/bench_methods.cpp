// One script call through the dispatcher, as a host makes it: getFFT at
// the usual sizes, getSamples and getAmplitude over one second of audio.
// Each includes the host's value and list work for the result.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/working_buffers.h"
#include "common/media_files.h"
#include "host/host.h"
#include "host/module.h"
#include "hx_entry.h"
#include "script/script_interface.h"
#include "bench/bench_support.h"

namespace {

using hx::host::Host;
using hx::host::Module;
using hx::host::ScriptObject;

// A minute of a 440 Hz tone at 44.1 kHz, open in one object for all benchmarks.
struct Session {
  Session() {
    hx::host::EntryPoints entry{DllGetClassInfo, DllGetClassForm, DllGetInterface, DllCanUnloadNow,
                                DllGetClassObject};
    module = Module::fromEntryPoints(entry);
    std::string error;
    object = ScriptObject::create(host, *module, &error);
    const std::string path = dir.file("tone.wav");
    hx::test::writeWav16(path, 44100, 1,
                         hx::test::toInt16(hx::test::sine(44100 * 60, 440.0, 44100.0, 20000.0)));
    HxValue name = host.makeString(path);
    HxValue id = object->call(hx::kMethodOpenQuicktimeFile, {&name, 1});
    host.release(name);
    host.release(id);
  }
  // Calls method with integer arguments and drops the result.
  void call(int32_t method, std::vector<int32_t> args) {
    std::vector<HxValue> values;
    for (int32_t n : args) values.push_back(host.makeInteger(n));
    HxValue result = object->call(method, values);
    host.release(result);
    for (HxValue& v : values) host.release(v);
  }

  hx::test::TempDir dir;
  Host host;
  std::unique_ptr<Module> module;
  std::unique_ptr<ScriptObject> object;
};

Session& session() {
  static Session s;
  return s;
}

// Args: binCount, timesmooth.
void BM_GetFFT(benchmark::State& state) {
  const auto bins = static_cast<int32_t>(state.range(0));
  const auto timesmooth = static_cast<int32_t>(state.range(1));
  // A different start each call, as an analysis walking a file makes them.
  uint32_t seed = 1;
  const uint32_t span = 44100 * 60 - static_cast<uint32_t>(2 * bins * timesmooth);
  for (auto _ : state) {
    seed = seed * 1664525u + 1013904223u;
    const auto start = static_cast<int32_t>((seed >> 8) % span);
    session().call(hx::kMethodGetFFT, {1, start, bins, timesmooth});
  }
  state.SetItemsProcessed(state.iterations() * 2 * bins * timesmooth);
}
BENCHMARK(BM_GetFFT)->ArgsProduct({{256, 1024, 8192}, {1, 8}})->Unit(benchmark::kMicrosecond);

void BM_GetSamples(benchmark::State& state) {
  for (auto _ : state) session().call(hx::kMethodGetSamples, {1, 44100, 44100});
  state.SetItemsProcessed(state.iterations() * 44100);
}
BENCHMARK(BM_GetSamples)->Unit(benchmark::kMicrosecond);

using hx::bench::statusKb;

// The longest list one call may make, far past the end of the file (zeros):
// time, and the growth of the resident set at its peak, per element.
void BM_GetSamplesHuge(benchmark::State& state) {
  constexpr int32_t kCount = hx::kMaxListValues;
  session();
  double peak = 0;
  for (auto _ : state) {
    {
      std::ofstream reset("/proc/self/clear_refs");
      reset << "5";
    }
    const long before = statusKb("VmRSS:");
    session().call(hx::kMethodGetSamples, {1, 0, kCount});
    peak = double(statusKb("VmHWM:") - before) * 1024.0;
  }
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["bytes_per_element"] = peak / kCount;
}
BENCHMARK(BM_GetSamplesHuge)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_GetAmplitude(benchmark::State& state) {
  for (auto _ : state) session().call(hx::kMethodGetAmplitude, {1, 44100, 44100});
  state.SetItemsProcessed(state.iterations() * 44100);
}
BENCHMARK(BM_GetAmplitude)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
