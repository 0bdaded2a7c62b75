// The last-error text of an object (result values: results.h).
#pragma once

#include <cstdint>

#include "script/instance.h"

namespace hx {

// Size of the composition buffer: longer texts are cut at 1023 characters.
inline constexpr int kErrorTextCapacity = 1024;

// Replaces the last-error value with the printf-style text.
void SetErrorText(Instance* instance, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Replaces the last-error value with "no error.".
void ResetError(Instance* instance);

// SetErrorText plus the result 0: the usual end of a failing handler.
void FailWith(Instance* instance, HxCallRecord* call, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace hx
