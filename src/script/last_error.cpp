// The last-error text: composed, replaced, and a failing call's end.
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

void FailWith(Instance* instance, HxCallRecord* call, const char* format, ...) {
  va_list args;
  va_start(args, format);
  composeError(instance, format, args);
  va_end(args);
  // Without memory for the 0 the result stays void; the text already says why.
  instance->valueInterface->vtbl->IntegerToValue(instance->valueInterface, 0, &call->result);
}

}  // namespace hx
