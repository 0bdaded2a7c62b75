// The result values handlers write, with the host's value operations.
#pragma once

#include <cstdint>

#include "hx_types.h"
#include "script/instance.h"

namespace hx {

// False when the host could not make the value: the result stays void and
// the error text becomes kNoResultText.
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

}  // namespace hx
