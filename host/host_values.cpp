// The host's value and list interfaces.
#include "host/host_impl.h"

namespace hx::host {
namespace detail {

// ---- values ------------------------------------------------------------------

[[gnu::noinline, gnu::cold]] Cell* badOperand(Host::Impl* impl, const HxValue* v,
                                               HxStatus* status) {
  *status = impl->fail(HX_E_INVALID_ARG,
                       v == nullptr ? "null value pointer" : "use of a stale or unknown value");
  return nullptr;
}

// Live cell of *v for an operation; counts null pointers and dead values.
// Inlined: every value a module makes passes here three times or more.
[[gnu::always_inline]] inline Cell* operand(Host::Impl* impl, const HxValue* v, HxStatus* status) {
  if (v == nullptr) [[unlikely]]
    return badOperand(impl, v, status);
  Cell* cell = impl->cellOf(*v);
  if (cell == nullptr && !isVoid(*v)) [[unlikely]]
    return badOperand(impl, v, status);
  *status = HX_OK;
  return cell;
}

HxStatus HX_CALL valueType(HxValueInterface* self, const HxValue* v, int32_t* type) {
  Host::Impl* impl = implOf(self);
  if (type == nullptr) return impl->fail(HX_E_INVALID_ARG, "ValueType without an output");
  HxStatus status;
  Cell* cell = operand(impl, v, &status);
  if (status != HX_OK) return status;
  *type = cell == nullptr ? HX_TYPE_VOID : typeCode(cell->kind());
  return HX_OK;
}

HxStatus HX_CALL valueToInteger(HxValueInterface* self, const HxValue* v, int32_t* out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG, "ValueToInteger without an output");
  HxStatus status;
  Cell* cell = operand(impl, v, &status);
  if (status != HX_OK) return status;
  if (cell == nullptr || cell->kind() != Kind::Integer)
    return impl->fail(HX_E_WRONG_TYPE, "ValueToInteger of a value that is not an integer");
  *out = cell->integer;
  return HX_OK;
}

HxStatus HX_CALL valueToFloat(HxValueInterface* self, const HxValue* v, double* out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG, "ValueToFloat without an output");
  HxStatus status;
  Cell* cell = operand(impl, v, &status);
  if (status != HX_OK) return status;
  if (cell != nullptr && cell->kind() == Kind::Float) {
    *out = cell->real;
    return HX_OK;
  }
  if (cell != nullptr && cell->kind() == Kind::Integer) {
    *out = static_cast<double>(cell->integer);
    return HX_OK;
  }
  return impl->fail(HX_E_WRONG_TYPE, "ValueToFloat of a value that is not a number");
}

HxStatus HX_CALL valueToString(HxValueInterface* self, const HxValue* v, char* buf,
                               int32_t size) {
  Host::Impl* impl = implOf(self);
  if (buf == nullptr) return impl->fail(HX_E_INVALID_ARG, "ValueToString without a buffer");
  if (size <= 0) return impl->fail(HX_E_INVALID_ARG, "ValueToString with no room");
  HxStatus status;
  Cell* cell = operand(impl, v, &status);
  if (status != HX_OK) return status;
  if (cell == nullptr || cell->kind() != Kind::String)
    return impl->fail(HX_E_WRONG_TYPE, "ValueToString of a value that is not a string");
  const std::string& text = impl->textOf(*cell);
  size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
  return HX_OK;
}

HxStatus HX_CALL integerToValue(HxValueInterface* self, int32_t n, HxValue* out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG, "IntegerToValue without an output");
  return guarded([&] {
    impl->valueMayGrow();
    *out = impl->newInteger(n);
    return HX_OK;
  });
}

[[gnu::noinline]] HxStatus newFloatSlow(Host::Impl* impl, double x, HxValue* out) {
  return guarded([&] {
    impl->valueMayGrow();
    *out = impl->newFloat(x);
    return HX_OK;
  });
}

[[gnu::noinline]] HxStatus floatToValueChecked(Host::Impl* impl, double x, HxValue* out) {
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG, "FloatToValue without an output");
  return newFloatSlow(impl, x, out);
}

// The fast paths of the value and list operations do their checks inline
// and hand everything else to a checked path out of line, so that they
// need no stack frame.
HxStatus HX_CALL floatToValue(HxValueInterface* self, double x, HxValue* out) {
  Host::Impl* impl = implOf(self);
  // A reused cell with no failure to inject: nothing can fail.
  if (out != nullptr && impl->freeHead != kNoCell && impl->valueFailAt == 0) [[likely]] {
    ++impl->valueSeen;
    const HxValue v = impl->newScalar(Kind::Float);
    impl->madeCell->real = x;
    storeValue(out, v);
    return HX_OK;
  }
  return floatToValueChecked(impl, x, out);
}

HxStatus HX_CALL stringToValue(HxValueInterface* self, const char* text, HxValue* out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr || text == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "StringToValue with a null pointer");
  return guarded([&] {
    impl->valueMayGrow();
    *out = impl->newString(text);
    return HX_OK;
  });
}

HxStatus HX_CALL valueAddRef(HxValueInterface* self, const HxValue* v) {
  Host::Impl* impl = implOf(self);
  HxStatus status;
  Cell* cell = operand(impl, v, &status);
  if (cell != nullptr && !Host::Impl::addRef(*cell)) return HX_E_OUT_OF_MEMORY;
  return status;
}

// The slow paths of the value operations stay out of line, so that the
// common ones (a number made, appended, released) need no stack frame.
[[gnu::noinline]] HxStatus releaseLast(Host::Impl* impl, const HxValue* v) {
  return guarded([&] {
    impl->releaseLive(*v);
    return HX_OK;
  });
}

[[gnu::noinline]] HxStatus valueReleaseChecked(Host::Impl* impl, HxValue* v) {
  HxStatus status;
  Cell* cell = operand(impl, v, &status);
  if (cell == nullptr) return status;
  if (cell->refs > 1) {  // the usual case: a temporary that a list now holds
    --cell->refs;
    return HX_OK;
  }
  return releaseLast(impl, v);
}

// Leaves *v as it is: a second release of the same value must stay visible.
HxStatus HX_CALL valueRelease(HxValueInterface* self, HxValue* v) {
  Host::Impl* impl = implOf(self);
  if (v != nullptr) [[likely]] {
    // The usual case: a temporary that a list now holds.
    if (Cell* cell = impl->madeCellOf(*v); cell != nullptr && cell->refs > 1) [[likely]] {
      --cell->refs;
      return HX_OK;
    }
  }
  return valueReleaseChecked(impl, v);
}

const HxValueInterfaceVtbl kValuesVtbl = {
    noInterface<HxValueInterface>, portAddRef<HxValueInterface>, portRelease<HxValueInterface>,
    valueType, valueToInteger, valueToFloat, valueToString, integerToValue, floatToValue,
    stringToValue, valueAddRef, valueRelease};

// ---- lists -------------------------------------------------------------------

// Live list cell of *list; counts everything else.
[[gnu::always_inline]] inline Cell* listOperand(Host::Impl* impl, const HxValue* list, HxStatus* status) {
  Cell* cell = operand(impl, list, status);
  if (*status != HX_OK) return nullptr;
  if (cell == nullptr || cell->kind() != Kind::List) {
    *status = impl->fail(HX_E_WRONG_TYPE, "list operation on a value that is not a list");
    return nullptr;
  }
  return cell;
}

HxStatus HX_CALL newList(HxListInterface* self, HxValue* out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG, "NewList without an output");
  return guarded([&] {
    impl->valueMayGrow();
    *out = impl->newCell(Kind::List);
    return HX_OK;
  });
}

[[gnu::noinline]] HxStatus appendSlow(Host::Impl* impl, HxValue* list, const HxValue* v,
                                      Cell* target, Cell* element) {
  return guarded([&] {
    impl->valueMayGrow();
    // A list inside itself would never be freed.
    if (element != nullptr && element->kind() == Kind::List && impl->reaches(*v, *list))
      return impl->fail(HX_E_INVALID_ARG, "AppendToList would put a list inside itself");
    if (element != nullptr && element->refs >= kMaxRefs) return HX_E_OUT_OF_MEMORY;
    impl->listOf(*target).items.push_back(v->lo);
    if (element != nullptr) {
      ++element->refs;
      if (element->kind() == Kind::List) ++impl->listOf(*element).heldByLists;
    }
    return HX_OK;
  });
}

[[gnu::noinline]] HxStatus appendChecked(Host::Impl* impl, HxValue* list, const HxValue* v) {
  HxStatus status;
  Cell* target = listOperand(impl, list, &status);
  if (target == nullptr) return status;
  impl->appendKey = keyOf(*list);
  impl->appendSide = target->side;
  Cell* element = operand(impl, v, &status);
  if (status != HX_OK) return status;
  // The usual case, a number into a list with room: nothing can fail.
  if (element != nullptr && element->kind() != Kind::List && element->refs < kMaxRefs &&
      impl->valueFailAt == 0) {
    std::vector<uint32_t>& items = impl->listOf(*target).items;
    if (items.size() < items.capacity()) [[likely]] {
      ++impl->valueSeen;
      items.push_back(v->lo);
      ++element->refs;
      return HX_OK;
    }
  }
  return appendSlow(impl, list, v, target, element);
}

HxStatus HX_CALL appendToList(HxListInterface* self, HxValue* list, const HxValue* v) {
  Host::Impl* impl = implOf(self);
  // A number into the list last appended to, with room: nothing can fail.
  // (A live number has at least one reference; noCell has none.)
  if (list != nullptr && v != nullptr && keyOf(*list) == impl->appendKey &&
      keyOf(*v) == impl->madeKey && impl->valueFailAt == 0) [[likely]] {
    Cell* element = impl->madeCell;
    std::vector<uint32_t>& items = impl->listData[impl->appendSide].items;
    if (element->refs - 1 < kMaxRefs - 1 && items.size() < items.capacity()) [[likely]] {
      ++impl->valueSeen;
      // Known to have room: no growth path (and no stack frame) here.
      if (items.data() + items.size() == items.data() + items.capacity()) __builtin_unreachable();
      items.push_back(v->lo);
      ++element->refs;
      return HX_OK;
    }
  }
  return appendChecked(impl, list, v);
}

HxStatus HX_CALL countElements(HxListInterface* self, const HxValue* list, int32_t* count) {
  Host::Impl* impl = implOf(self);
  if (count == nullptr) return impl->fail(HX_E_INVALID_ARG, "CountElements without an output");
  HxStatus status;
  Cell* cell = listOperand(impl, list, &status);
  if (cell == nullptr) return status;
  *count = static_cast<int32_t>(impl->listOf(*cell).items.size());
  return HX_OK;
}

HxStatus HX_CALL getValueByIndex(HxListInterface* self, const HxValue* list, int32_t index,
                                 HxValue* out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG, "GetValueByIndex without an output");
  HxStatus status;
  Cell* cell = listOperand(impl, list, &status);
  if (cell == nullptr) return status;
  const std::vector<uint32_t>& items = impl->listOf(*cell).items;
  if (index < 0 || static_cast<size_t>(index) >= items.size())
    return impl->fail(HX_E_INVALID_ARG, "GetValueByIndex outside the list");
  HxValue element = impl->slotValue(items[static_cast<size_t>(index)]);
  if (Cell* e = impl->cellOf(element); e != nullptr && !Host::Impl::addRef(*e))
    return HX_E_OUT_OF_MEMORY;
  *out = element;
  return HX_OK;
}

const HxListInterfaceVtbl kListsVtbl = {
    noInterface<HxListInterface>, portAddRef<HxListInterface>, portRelease<HxListInterface>,
    newList, appendToList, countElements, getValueByIndex};

}  // namespace detail
}  // namespace hx::host
