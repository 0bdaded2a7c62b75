// The script methods' facts that the module, the command and the tests
// share: numbers, names and the defaults of optional arguments. Constants
// only, so that a host client includes it without the module's code.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace hx {

// Method numbers: lines of the method table text, from 0.
enum MethodNumber : int32_t {
  kMethodNew = 0,
  kMethodOpenQuicktimeFile = 1,
  kMethodCloseFile = 2,
  kMethodGetSamples = 3,
  kMethodGetAmplitude = 4,
  kMethodGetFFT = 5,
  kMethodGetSampleRate = 6,
  kMethodGetEqualizedFreqCount = 7,
  kMethodGetError = 8,
};
inline constexpr int32_t kMethodCount = 9;

// Names by method number, case-sensitive, as the method table text has them.
inline constexpr std::array<std::string_view, kMethodCount> kMethodNames = {
    "new",           "openQuicktimeFile",     "closeFile", "getSamples", "getAmplitude", "getFFT",
    "getSampleRate", "getEqualizedFreqCount", "getError"};

// Optional arguments left out of a call: startsample, binCount and
// timesmooth of getFFT, amplMax of getFFT and getSamples.
inline constexpr int32_t kDefaultStart = 0;
inline constexpr int32_t kDefaultBinCount = 256;
inline constexpr int32_t kDefaultTimesmooth = 1;
inline constexpr double kDefaultAmplMax = 1.0;

}  // namespace hx
