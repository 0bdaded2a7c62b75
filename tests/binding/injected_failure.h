// Makes the test runtime fail one operation (HX_QT_FAIL, read by
// runtime_dll.cpp on every call) for as long as an InjectedFailure lives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "audio/media_ops.h"

namespace hx::binding_test {

inline constexpr OSErr kInjected = -777;

class InjectedFailure {
 public:
  explicit InjectedFailure(uint32_t selector) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%X:%d", unsigned(selector), int(kInjected));
    SetEnvironmentVariableA("HX_QT_FAIL", text);
  }
  ~InjectedFailure() { SetEnvironmentVariableA("HX_QT_FAIL", nullptr); }
  InjectedFailure(const InjectedFailure&) = delete;
  InjectedFailure& operator=(const InjectedFailure&) = delete;
};

}  // namespace hx::binding_test
