// Argument readers shared by every handler.
#include <cmath>
#include <cstdint>

#include "script/last_error.h"
#include "script/script_interface.h"

namespace hx {
namespace {

HxValueInterface* valuesOf(ScriptIface* self) { return self->owner->valueInterface; }

// The argument at position, or null when the call has fewer arguments. A
// required one that is missing leaves "%s is VOID" and the result 0.
const HxValue* argumentAt(ScriptIface* self, HxCallRecord* call, int32_t position,
                          const char* name, int32_t required) {
  if (position >= 1 && call->argCount >= position && call->args != nullptr) {
    return &call->args[position - 1];
  }
  if (required == 1) FailWith(self->owner, call, "%s is VOID", name);
  return nullptr;
}

// The number an integer or float value holds; integers convert exactly.
bool numberOf(ScriptIface* self, const HxValue* value, double* out) {
  HxValueInterface* values = valuesOf(self);
  if (IsValueType(self, value, HX_TYPE_INTEGER) == 1) {
    int32_t n = 0;
    if (values->vtbl->ValueToInteger(values, value, &n) != HX_OK) return false;
    *out = static_cast<double>(n);
    return true;
  }
  return IsValueType(self, value, HX_TYPE_FLOAT) == 1 &&
         values->vtbl->ValueToFloat(values, value, out) == HX_OK;
}

// Truncation toward zero; NaN, infinities and values outside int32 have no
// integer reading and are refused like a value of the wrong type.
bool truncateToInt32(double x, int32_t* out) {
  if (!std::isfinite(x)) return false;
  double t = std::trunc(x);
  if (t < -2147483648.0 || t > 2147483647.0) return false;
  *out = static_cast<int32_t>(t);
  return true;
}

}  // namespace

int32_t HX_CALL IsValueType(ScriptIface* self, const HxValue* value, int32_t type) {
  int32_t actual = HX_TYPE_VOID;
  HxValueInterface* values = valuesOf(self);
  if (values->vtbl->ValueType(values, value, &actual) != HX_OK) return 0;
  return actual == type ? 1 : 0;
}

int32_t HX_CALL GetIntArg(ScriptIface* self, HxCallRecord* call, int32_t position,
                          const char* name, int32_t* out, int32_t required) {
  const HxValue* value = argumentAt(self, call, position, name, required);
  if (value == nullptr) return kArgMissing;
  double x = 0.0;
  int32_t n = 0;
  if (numberOf(self, value, &x) && truncateToInt32(x, &n)) {
    *out = n;
    return kArgRead;
  }
  FailWith(self->owner, call, "%s should be a int", name);
  return kArgWrongType;
}

int32_t HX_CALL GetFloatArg(ScriptIface* self, HxCallRecord* call, int32_t position,
                            const char* name, double* out, int32_t required) {
  const HxValue* value = argumentAt(self, call, position, name, required);
  if (value == nullptr) return kArgMissing;
  if (numberOf(self, value, out)) return kArgRead;
  FailWith(self->owner, call, "%s should be a float", name);
  return kArgWrongType;
}

int32_t HX_CALL GetStringArg(ScriptIface* self, HxCallRecord* call, int32_t position,
                             const char* name, char* out, int32_t length, int32_t required) {
  const HxValue* value = argumentAt(self, call, position, name, required);
  if (value == nullptr) return kArgMissing;
  if (IsValueType(self, value, HX_TYPE_STRING) == 1) {
    HxValueInterface* values = valuesOf(self);
    if (values->vtbl->ValueToString(values, value, out, length) == HX_OK) return kArgRead;
  }
  FailWith(self->owner, call, "%s should be a string", name);
  return kArgWrongType;
}

}  // namespace hx
