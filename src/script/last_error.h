// The last-error text of an object and the result values handlers write.
#pragma once

#include <cstdint>

#include "shell/instance.h"

namespace hx {

// Size of the composition buffer: longer texts are cut at 1023 characters.
inline constexpr int kErrorTextCapacity = 1024;

// Replaces the last-error value with the printf-style text.
void SetErrorText(Instance* instance, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Replaces the last-error value with "no error.".
void ResetError(Instance* instance);

// Result values, written with the host's value operations. False when the
// host could not make the value: the result stays void and the error text
// becomes kNoResultText.
inline constexpr char kNoResultText[] = "cannot make the result : error Not enough memory";
bool SetIntegerResult(Instance* instance, HxCallRecord* call, int32_t n);
bool SetFloatResult(Instance* instance, HxCallRecord* call, double x);
// Makes the result an empty list; false if the host could not.
bool StartListResult(Instance* instance, HxCallRecord* call);
// Appends one float, widened to double, to the list result; false when
// the host could not make or append the value.
[[nodiscard]] bool AppendFloatResult(Instance* instance, HxCallRecord* call, float v);
// AppendFloatResult for values[0..count-1] in order; false at the first
// value the host could not make or append (the list then holds those before).
[[nodiscard]] bool AppendFloatResults(Instance* instance, HxCallRecord* call, const float* values,
                                      int32_t count);
// Releases whatever result the handler has made so far (a half-built
// list, say) and leaves the result void.
void DropResult(Instance* instance, HxCallRecord* call);

// SetErrorText plus the result 0: the usual end of a failing handler.
void FailWith(Instance* instance, HxCallRecord* call, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace hx
