// Result values: integers, floats and float lists; see results.h.
#include "script/results.h"

#include "script/last_error.h"

namespace hx {

// The result stays void when the host cannot make it; a successful
// method must then not leave "no error." behind.
bool SetIntegerResult(Instance* instance, HxCallRecord* call, int32_t n) {
  if (instance->valueInterface->vtbl->IntegerToValue(instance->valueInterface, n, &call->result) == HX_OK)
    return true;
  SetErrorText(instance, "%s", kNoResultText);
  return false;
}

bool SetFloatResult(Instance* instance, HxCallRecord* call, double x) {
  if (instance->valueInterface->vtbl->FloatToValue(instance->valueInterface, x, &call->result) == HX_OK)
    return true;
  SetErrorText(instance, "%s", kNoResultText);
  return false;
}

bool StartListResult(Instance* instance, HxCallRecord* call) {
  return instance->listInterface->vtbl->NewList(instance->listInterface, &call->result) == HX_OK;
}

bool AppendFloatResult(Instance* instance, HxCallRecord* call, float v) {
  HxValueInterface* values = instance->valueInterface;
  HxValue item{0, 0};
  if (values->vtbl->FloatToValue(values, static_cast<double>(v), &item) != HX_OK) return false;
  const HxStatus appended =
      instance->listInterface->vtbl->AppendToList(instance->listInterface, &call->result, &item);
  values->vtbl->ValueRelease(values, &item);
  return appended == HX_OK;
}

// The host's slots read once: the calls through them cannot change them,
// and a long list makes three calls per value.
bool AppendFloatResults(Instance* instance, HxCallRecord* call, const float* values,
                        int32_t count) {
  HxValueInterface* valueIface = instance->valueInterface;
  HxListInterface* listIface = instance->listInterface;
  const auto floatToValue = valueIface->vtbl->FloatToValue;
  const auto valueRelease = valueIface->vtbl->ValueRelease;
  const auto appendToList = listIface->vtbl->AppendToList;
  HxValue* list = &call->result;
  for (int32_t i = 0; i < count; ++i) {
    HxValue item{0, 0};
    if (floatToValue(valueIface, static_cast<double>(values[i]), &item) != HX_OK) return false;
    const HxStatus appended = appendToList(listIface, list, &item);
    valueRelease(valueIface, &item);
    if (appended != HX_OK) return false;
  }
  return true;
}

void DropResult(Instance* instance, HxCallRecord* call) {
  HxValueInterface* values = instance->valueInterface;
  int32_t type = HX_TYPE_VOID;
  if (values->vtbl->ValueType(values, &call->result, &type) == HX_OK && type != HX_TYPE_VOID) {
    values->vtbl->ValueRelease(values, &call->result);
  }
  call->result = HxValue{0, 0};
}

}  // namespace hx
