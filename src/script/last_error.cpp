#include "script/last_error.h"

#include <cstdarg>
#include <cstdio>

namespace hx {
namespace {

void replaceLastError(Instance* instance, const char* text) {
  HxValueInterface* values = instance->valueInterface;
  values->vtbl->ValueRelease(values, &instance->lastError);
  instance->lastError = HxValue{0, 0};
  values->vtbl->StringToValue(values, text, &instance->lastError);
}

void composeError(Instance* instance, const char* format, va_list args) {
  char buffer[kErrorTextCapacity];
  // vsnprintf cuts at capacity - 1 and always terminates.
  if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
  replaceLastError(instance, buffer);
}

}  // namespace

void SetErrorText(Instance* instance, const char* format, ...) {
  va_list args;
  va_start(args, format);
  composeError(instance, format, args);
  va_end(args);
}

void ResetError(Instance* instance) { replaceLastError(instance, "no error."); }

void SetIntegerResult(Instance* instance, HxCallRecord* call, int32_t n) {
  instance->valueInterface->vtbl->IntegerToValue(instance->valueInterface, n, &call->result);
}

void SetFloatResult(Instance* instance, HxCallRecord* call, double x) {
  instance->valueInterface->vtbl->FloatToValue(instance->valueInterface, x, &call->result);
}

bool StartListResult(Instance* instance, HxCallRecord* call) {
  return instance->listInterface->vtbl->NewList(instance->listInterface, &call->result) == HX_OK;
}

void AppendFloatResult(Instance* instance, HxCallRecord* call, float v) {
  HxValueInterface* values = instance->valueInterface;
  HxValue item{0, 0};
  if (values->vtbl->FloatToValue(values, static_cast<double>(v), &item) != HX_OK) return;
  instance->listInterface->vtbl->AppendToList(instance->listInterface, &call->result, &item);
  values->vtbl->ValueRelease(values, &item);
}

void FailWith(Instance* instance, HxCallRecord* call, const char* format, ...) {
  va_list args;
  va_start(args, format);
  composeError(instance, format, args);
  va_end(args);
  SetIntegerResult(instance, call, 0);
}

}  // namespace hx
