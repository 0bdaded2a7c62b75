// The test runtime as a Windows library: the three exports the binding
// looks up. HX_QT_FAIL="selector[:code]" in the process environment (read
// on every call, so a test may change it between calls) makes the named
// operation fail with code (default -1) as setFailure describes.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>

#include "test_runtime/runtime.h"

namespace {

void applyFailureSetting() {
  char text[64];
  const DWORD n = GetEnvironmentVariableA("HX_QT_FAIL", text, sizeof text);
  if (n == 0 || n >= sizeof text) {
    hx::testrt::setFailure(0, 0);
    return;
  }
  char* end = nullptr;
  const uint32_t selector = uint32_t(std::strtoul(text, &end, 0));
  long code = -1;
  if (*end == ':') code = std::strtol(end + 1, nullptr, 0);
  hx::testrt::setFailure(selector, hx::OSErr(code));
}

}  // namespace

extern "C" {

intptr_t __cdecl hxQuickTimeDispatcher(uint32_t selector, ...) {
  applyFailureSetting();
  va_list args;
  va_start(args, selector);
  const intptr_t result = hx::testrt::dispatch(selector, args);
  va_end(args);
  return result;
}

// Resolved by the binding, never called by the module.
intptr_t __cdecl hxCallComponent(uint32_t, ...) { return hx::paramErr; }
intptr_t __cdecl hxCallComponentFunctionWithStorage(uint32_t, ...) { return hx::paramErr; }

}
