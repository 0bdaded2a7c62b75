// The lean host's values, lists, allocator and interfaces.
#include "python/src/lean_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/host.h"
#include "hx_ids.h"

namespace hx::pyhost {
namespace {

// A value's hi word: a cell's generation (1 to kMaxGeneration), or one of
// these tags for the values that live inside the value itself.
constexpr uint32_t kTagInteger = 0xFFFFFF01u;
constexpr uint32_t kTagFloat = 0xFFFFFF02u;
constexpr uint32_t kTagObject = 0xFFFFFF03u;
constexpr uint32_t kMaxGeneration = 0xFFFFFF00u;
// Larger requests are refused rather than handed to the system allocator.
constexpr uint32_t kMaxBlock = 1u << 30;

bool isVoid(const HxValue& v) { return v.lo == 0 && v.hi == 0; }

enum class Kind : uint8_t { Free, Double, String, List };

struct List {
  size_t base = 0;  // floats lent by the caller, not the module's
  bool floatsOnly = true;
  std::vector<float> floats;
  std::vector<HxValue> items;  // once anything but a float was appended
};

struct Cell {
  uint32_t generation = 1;
  uint32_t refs = 0;
  Kind kind = Kind::Free;
  uint32_t nextFree = 0;
  double real = 0;
  std::string text;
  std::unique_ptr<List> list;
};

template <class Iface>
struct Port {
  Iface iface;
  LeanHost::Impl* impl;
  int64_t refs;
};

template <class Iface>
LeanHost::Impl* implOf(Iface* self) {
  return reinterpret_cast<Port<Iface>*>(self)->impl;
}

}  // namespace

struct LeanHost::Impl {
  Port<HxCallback> callback;
  Port<HxAllocator> allocator;
  Port<HxValueInterface> values;
  Port<HxListInterface> lists;

  std::vector<Cell> cells;
  uint32_t freeHead = UINT32_MAX;
  int64_t live = 0;
  std::unordered_map<void*, uint32_t> blocks;
  int64_t protocolErrors = 0;
  std::vector<float> lent;
  bool haveLent = false;
  // The list appended to last: the module appends one value after another
  // to the same list. Forgotten when any cell is freed.
  HxValue lastList{0, 0};
  List* lastListData = nullptr;

  Impl();

  HxStatus fail(HxStatus status) {
    ++protocolErrors;
    return status;
  }

  Cell* cellOf(const HxValue& v) {
    if (v.lo == 0 || v.lo > cells.size() || v.hi == 0 || v.hi > kMaxGeneration) return nullptr;
    Cell& c = cells[v.lo - 1];
    return c.kind != Kind::Free && c.generation == v.hi ? &c : nullptr;
  }
  const Cell* cellOf(const HxValue& v) const { return const_cast<Impl*>(this)->cellOf(v); }

  HxValue newCell(Kind kind) {
    uint32_t index;
    if (freeHead != UINT32_MAX) {
      index = freeHead;
      freeHead = cells[index].nextFree;
    } else {
      if (cells.size() >= kMaxGeneration) throw std::bad_alloc();
      cells.emplace_back();
      index = uint32_t(cells.size() - 1);
    }
    Cell& c = cells[index];
    c.kind = kind;
    c.refs = 1;
    ++live;
    return {index + 1, c.generation};
  }

  void freeCell(uint32_t index) {
    lastListData = nullptr;
    lastList = HxValue{0, 0};
    Cell& c = cells[index];
    std::unique_ptr<List> list = std::move(c.list);
    c.kind = Kind::Free;
    c.text = std::string();
    c.refs = 0;
    c.generation = c.generation + 1 >= kMaxGeneration ? 1 : c.generation + 1;
    c.nextFree = freeHead;
    freeHead = index;
    --live;
    // Elements go after the cell, so that a reference loop cannot recurse.
    if (list != nullptr)
      for (HxValue& v : list->items) releaseValue(v);
  }

  // One reference less; HX_OK for void and the values without a cell.
  HxStatus releaseValue(const HxValue& v) {
    if (isVoid(v) || v.hi == kTagInteger || v.hi == kTagFloat || v.hi == kTagObject) return HX_OK;
    Cell* c = cellOf(v);
    if (c == nullptr) return fail(HX_E_INVALID_ARG);
    if (--c->refs == 0) freeCell(v.lo - 1);
    return HX_OK;
  }

  // The value is one this host made and still holds.
  bool valid(const HxValue& v) const {
    return isVoid(v) || v.hi == kTagInteger || v.hi == kTagFloat || v.hi == kTagObject ||
           cellOf(v) != nullptr;
  }

  List* listOf(const HxValue& v) {
    Cell* c = cellOf(v);
    return c != nullptr && c->kind == Kind::List ? c->list.get() : nullptr;
  }

  // The list as values, once it holds more than floats.
  static void widen(List& l) {
    if (!l.floatsOnly) return;
    l.items.reserve(l.floats.size() - l.base + 1);
    for (size_t i = l.base; i < l.floats.size(); ++i) {
      uint32_t bits;
      std::memcpy(&bits, &l.floats[i], sizeof bits);
      l.items.push_back({bits, kTagFloat});
    }
    l.floats.resize(l.base);
    l.floatsOnly = false;
  }
};

namespace {

using Impl = LeanHost::Impl;

template <class Iface>
HxStatus HX_CALL noInterface(Iface*, const HxGuid*, void** out) {
  if (out != nullptr) *out = nullptr;
  return HX_E_NO_INTERFACE;
}
template <class Iface>
uint32_t HX_CALL portAddRef(Iface* self) {
  return uint32_t(++reinterpret_cast<Port<Iface>*>(self)->refs);
}
template <class Iface>
uint32_t HX_CALL portRelease(Iface* self) {
  auto* port = reinterpret_cast<Port<Iface>*>(self);
  if (port->refs <= 0) {
    port->impl->fail(HX_E_INVALID_ARG);
    return 0;
  }
  return uint32_t(--port->refs);
}

template <class Fn>
HxStatus guarded(Fn&& fn) {
  try {
    return fn();
  } catch (...) {
    return HX_E_OUT_OF_MEMORY;
  }
}

HxStatus HX_CALL callbackQueryInterface(HxCallback* self, const HxGuid* iid, void** out) {
  Impl* impl = implOf(self);
  if (out == nullptr || iid == nullptr) return impl->fail(HX_E_INVALID_ARG);
  static const HxGuid kValues = HX_IID_VALUE_INTERFACE;
  static const HxGuid kLists = HX_IID_LIST_INTERFACE;
  if (std::memcmp(iid, &kValues, sizeof kValues) == 0) {
    ++impl->values.refs;
    *out = &impl->values.iface;
    return HX_OK;
  }
  if (std::memcmp(iid, &kLists, sizeof kLists) == 0) {
    ++impl->lists.refs;
    *out = &impl->lists.iface;
    return HX_OK;
  }
  *out = nullptr;
  return HX_E_NO_INTERFACE;
}

void* HX_CALL hostAlloc(HxAllocator* self, uint32_t size) {
  Impl* impl = implOf(self);
  if (size > kMaxBlock) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  try {
    impl->blocks.emplace(block, size);
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void HX_CALL hostFree(HxAllocator* self, void* block) {
  if (block == nullptr) return;
  Impl* impl = implOf(self);
  if (impl->blocks.erase(block) == 0) {
    impl->fail(HX_E_INVALID_ARG);
    return;
  }
  std::free(block);
}

HxStatus HX_CALL valueType(HxValueInterface* self, const HxValue* v, int32_t* type) {
  Impl* impl = implOf(self);
  if (v == nullptr || type == nullptr) return impl->fail(HX_E_INVALID_ARG);
  if (isVoid(*v)) *type = HX_TYPE_VOID;
  else if (v->hi == kTagInteger) *type = HX_TYPE_INTEGER;
  else if (v->hi == kTagFloat) *type = HX_TYPE_FLOAT;
  else if (v->hi == kTagObject) *type = host::kTypeObject;
  else if (const Cell* c = impl->cellOf(*v); c != nullptr)
    *type = c->kind == Kind::Double ? HX_TYPE_FLOAT : c->kind == Kind::String ? HX_TYPE_STRING : HX_TYPE_LIST;
  else return impl->fail(HX_E_INVALID_ARG);
  return HX_OK;
}

HxStatus HX_CALL valueToInteger(HxValueInterface* self, const HxValue* v, int32_t* out) {
  Impl* impl = implOf(self);
  if (v == nullptr || out == nullptr) return impl->fail(HX_E_INVALID_ARG);
  if (v->hi != kTagInteger) return impl->fail(impl->valid(*v) ? HX_E_WRONG_TYPE : HX_E_INVALID_ARG);
  *out = int32_t(v->lo);
  return HX_OK;
}

HxStatus HX_CALL valueToFloat(HxValueInterface* self, const HxValue* v, double* out) {
  Impl* impl = implOf(self);
  if (v == nullptr || out == nullptr) return impl->fail(HX_E_INVALID_ARG);
  if (v->hi == kTagFloat) {
    float f;
    std::memcpy(&f, &v->lo, sizeof f);
    *out = f;
    return HX_OK;
  }
  if (v->hi == kTagInteger) {
    *out = double(int32_t(v->lo));
    return HX_OK;
  }
  if (const Cell* c = impl->cellOf(*v); c != nullptr && c->kind == Kind::Double) {
    *out = c->real;
    return HX_OK;
  }
  return impl->fail(impl->valid(*v) ? HX_E_WRONG_TYPE : HX_E_INVALID_ARG);
}

HxStatus HX_CALL valueToString(HxValueInterface* self, const HxValue* v, char* buf, int32_t size) {
  Impl* impl = implOf(self);
  if (v == nullptr || buf == nullptr || size <= 0) return impl->fail(HX_E_INVALID_ARG);
  const Cell* c = impl->cellOf(*v);
  if (c == nullptr || c->kind != Kind::String)
    return impl->fail(impl->valid(*v) ? HX_E_WRONG_TYPE : HX_E_INVALID_ARG);
  const size_t n = std::min(c->text.size(), size_t(size) - 1);
  std::memcpy(buf, c->text.data(), n);
  buf[n] = '\0';
  return HX_OK;
}

HxStatus HX_CALL integerToValue(HxValueInterface* self, int32_t n, HxValue* out) {
  if (out == nullptr) return implOf(self)->fail(HX_E_INVALID_ARG);
  *out = {uint32_t(n), kTagInteger};
  return HX_OK;
}

[[gnu::noinline]] HxStatus floatToCell(Impl* impl, double x, HxValue* out) {
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG);
  return guarded([&] {
    const HxValue v = impl->newCell(Kind::Double);
    impl->cells[v.lo - 1].real = x;
    *out = v;
    return HX_OK;
  });
}

// The common operations (a float made, appended, released: once per value
// of every result) are small enough to need no stack frame; anything else
// takes an out-of-line path.
HxStatus HX_CALL floatToValue(HxValueInterface* self, double x, HxValue* out) {
  // A 32-bit float widened, which is what the module hands over, needs no cell.
  const float f = float(x);
  if (double(f) == x && out != nullptr) [[likely]] {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    const uint64_t key = uint64_t{bits} | (uint64_t{kTagFloat} << 32);
    std::memcpy(out, &key, sizeof key);  // one store, read back as one load
    return HX_OK;
  }
  return floatToCell(implOf(self), x, out);
}

HxStatus HX_CALL stringToValue(HxValueInterface* self, const char* text, HxValue* out) {
  Impl* impl = implOf(self);
  if (out == nullptr || text == nullptr) return impl->fail(HX_E_INVALID_ARG);
  return guarded([&] {
    std::string s(text);
    const HxValue v = impl->newCell(Kind::String);
    impl->cells[v.lo - 1].text = std::move(s);
    *out = v;
    return HX_OK;
  });
}

HxStatus HX_CALL valueAddRef(HxValueInterface* self, const HxValue* v) {
  Impl* impl = implOf(self);
  if (v == nullptr) return impl->fail(HX_E_INVALID_ARG);
  if (!impl->valid(*v)) return impl->fail(HX_E_INVALID_ARG);
  if (Cell* c = impl->cellOf(*v); c != nullptr) {
    if (c->refs == UINT32_MAX) return HX_E_OUT_OF_MEMORY;
    ++c->refs;
  }
  return HX_OK;
}

[[gnu::noinline]] HxStatus releaseSlow(Impl* impl, HxValue* v) {
  if (v == nullptr) return impl->fail(HX_E_INVALID_ARG);
  return impl->releaseValue(*v);
}

HxStatus HX_CALL valueRelease(HxValueInterface* self, HxValue* v) {
  if (v != nullptr && (v->hi == kTagFloat || v->hi == kTagInteger)) [[likely]] return HX_OK;
  return releaseSlow(implOf(self), v);
}

HxStatus HX_CALL newList(HxListInterface* self, HxValue* out) {
  Impl* impl = implOf(self);
  if (out == nullptr) return impl->fail(HX_E_INVALID_ARG);
  return guarded([&] {
    auto list = std::make_unique<List>();
    if (impl->haveLent) {
      list->floats = std::move(impl->lent);
      list->base = list->floats.size();
      impl->lent = std::vector<float>();
      impl->haveLent = false;
    }
    const HxValue v = impl->newCell(Kind::List);
    impl->cells[v.lo - 1].list = std::move(list);
    *out = v;
    return HX_OK;
  });
}

[[gnu::noinline]] HxStatus appendSlow(Impl* impl, HxValue* list, const HxValue* v) {
  if (list == nullptr || v == nullptr) return impl->fail(HX_E_INVALID_ARG);
  List* l = impl->lastListData != nullptr && list->lo == impl->lastList.lo && list->hi == impl->lastList.hi
                ? impl->lastListData
                : impl->listOf(*list);
  if (l == nullptr || !impl->valid(*v)) return impl->fail(HX_E_INVALID_ARG);
  impl->lastList = *list;
  impl->lastListData = l;
  return guarded([&] {
    if (l->floatsOnly && v->hi == kTagFloat) [[likely]] {
      float f;
      std::memcpy(&f, &v->lo, sizeof f);
      l->floats.push_back(f);
      return HX_OK;
    }
    // No list inside a list: nothing the module makes needs one, and no
    // reference loop can form.
    if (impl->listOf(*v) != nullptr) return impl->fail(HX_E_INVALID_ARG);
    Impl::widen(*l);
    l->items.push_back(*v);
    if (Cell* c = impl->cellOf(*v); c != nullptr) ++c->refs;
    return HX_OK;
  });
}

HxStatus HX_CALL appendToList(HxListInterface* self, HxValue* list, const HxValue* v) {
  Impl* impl = implOf(self);
  if (list != nullptr && v != nullptr && v->hi == kTagFloat) [[likely]] {
    List* l = impl->lastListData;
    if (l != nullptr && list->lo == impl->lastList.lo && list->hi == impl->lastList.hi &&
        l->floatsOnly && l->floats.size() < l->floats.capacity()) [[likely]] {
      float f;
      std::memcpy(&f, &v->lo, sizeof f);
      l->floats.push_back(f);  // within the capacity: cannot throw
      return HX_OK;
    }
  }
  return appendSlow(impl, list, v);
}

HxStatus HX_CALL countElements(HxListInterface* self, const HxValue* list, int32_t* count) {
  Impl* impl = implOf(self);
  if (list == nullptr || count == nullptr) return impl->fail(HX_E_INVALID_ARG);
  List* l = impl->listOf(*list);
  if (l == nullptr) return impl->fail(impl->valid(*list) ? HX_E_WRONG_TYPE : HX_E_INVALID_ARG);
  *count = int32_t(l->floatsOnly ? l->floats.size() - l->base : l->items.size());
  return HX_OK;
}

HxStatus HX_CALL getValueByIndex(HxListInterface* self, const HxValue* list, int32_t index,
                                 HxValue* out) {
  Impl* impl = implOf(self);
  if (list == nullptr || out == nullptr) return impl->fail(HX_E_INVALID_ARG);
  List* l = impl->listOf(*list);
  if (l == nullptr) return impl->fail(HX_E_INVALID_ARG);
  const size_t n = l->floatsOnly ? l->floats.size() - l->base : l->items.size();
  if (index < 0 || size_t(index) >= n) return impl->fail(HX_E_INVALID_ARG);
  if (l->floatsOnly) {
    uint32_t bits;
    std::memcpy(&bits, &l->floats[l->base + size_t(index)], sizeof bits);
    *out = {bits, kTagFloat};
    return HX_OK;
  }
  const HxValue v = l->items[size_t(index)];
  if (Cell* c = impl->cellOf(v); c != nullptr) ++c->refs;
  *out = v;
  return HX_OK;
}

const HxCallbackVtbl kCallbackVtbl = {.QueryInterface = callbackQueryInterface,
                                      .AddRef = portAddRef<HxCallback>,
                                      .Release = portRelease<HxCallback>};
const HxAllocatorVtbl kAllocatorVtbl = {
    .QueryInterface = noInterface<HxAllocator>, .AddRef = portAddRef<HxAllocator>,
    .Release = portRelease<HxAllocator>, .HostAlloc = hostAlloc, .HostFree = hostFree};
const HxValueInterfaceVtbl kValuesVtbl = {
    .QueryInterface = noInterface<HxValueInterface>, .AddRef = portAddRef<HxValueInterface>,
    .Release = portRelease<HxValueInterface>, .ValueType = valueType, .ValueToInteger = valueToInteger, .ValueToFloat = valueToFloat,
    .ValueToString = valueToString, .IntegerToValue = integerToValue,
    .FloatToValue = floatToValue, .StringToValue = stringToValue, .ValueAddRef = valueAddRef,
    .ValueRelease = valueRelease};
const HxListInterfaceVtbl kListsVtbl = {
    .QueryInterface = noInterface<HxListInterface>, .AddRef = portAddRef<HxListInterface>,
    .Release = portRelease<HxListInterface>, .NewList = newList, .AppendToList = appendToList, .CountElements = countElements,
    .GetValueByIndex = getValueByIndex};

}  // namespace

LeanHost::Impl::Impl()
    : callback{{&kCallbackVtbl}, this, 0},
      allocator{{&kAllocatorVtbl}, this, 0},
      values{{&kValuesVtbl}, this, 0},
      lists{{&kListsVtbl}, this, 0} {}

LeanHost::LeanHost() : impl_(std::make_unique<Impl>()) {}

LeanHost::~LeanHost() {
  for (auto& [block, size] : impl_->blocks) std::free(block);
}

HxCallback* LeanHost::callback() { return &impl_->callback.iface; }
HxAllocator* LeanHost::allocator() { return &impl_->allocator.iface; }
HxValue LeanHost::makeObject() { return {0, kTagObject}; }
void LeanHost::release(HxValue& v) {
  impl_->releaseValue(v);
  v = HxValue{0, 0};
}
std::optional<uint32_t> LeanHost::blockSize(const void* block) const {
  auto it = impl_->blocks.find(const_cast<void*>(block));
  if (it == impl_->blocks.end()) return std::nullopt;
  return it->second;
}
void LeanHost::noteProtocolError(std::string) { ++impl_->protocolErrors; }

HxValue LeanHost::makeInteger(int32_t n) {
  HxValue v;
  integerToValue(&impl_->values.iface, n, &v);
  return v;
}

HxValue LeanHost::makeFloat(double x) {
  HxValue v{0, 0};
  if (floatToValue(&impl_->values.iface, x, &v) != HX_OK) throw std::bad_alloc();
  return v;
}

HxValue LeanHost::makeString(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    ++impl_->protocolErrors;
    return {0, 0};
  }
  const HxValue v = impl_->newCell(Kind::String);
  impl_->cells[v.lo - 1].text = std::string(text);
  return v;
}

std::optional<int32_t> LeanHost::integerOf(const HxValue& v) const {
  if (v.hi != kTagInteger) return std::nullopt;
  return int32_t(v.lo);
}

std::optional<double> LeanHost::floatOf(const HxValue& v) const {
  if (v.hi == kTagFloat) {
    float f;
    std::memcpy(&f, &v.lo, sizeof f);
    return f;
  }
  if (const Cell* c = impl_->cellOf(v); c != nullptr && c->kind == Kind::Double) return c->real;
  return std::nullopt;
}

std::optional<std::string> LeanHost::stringOf(const HxValue& v) const {
  if (const Cell* c = impl_->cellOf(v); c != nullptr && c->kind == Kind::String) return c->text;
  return std::nullopt;
}

bool LeanHost::isList(const HxValue& v) const {
  const Cell* c = impl_->cellOf(v);
  return c != nullptr && c->kind == Kind::List;
}

void LeanHost::lendStorage(std::vector<float>&& storage) {
  impl_->lent = std::move(storage);
  impl_->haveLent = true;
}

std::vector<float> LeanHost::reclaimStorage() {
  impl_->haveLent = false;
  return std::move(impl_->lent);
}

std::optional<std::vector<float>> LeanHost::takeFloats(const HxValue& list) {
  List* l = impl_->listOf(list);
  if (l == nullptr || !l->floatsOnly) return std::nullopt;
  std::vector<float> out = std::move(l->floats);
  l->floats = std::vector<float>();
  l->base = 0;
  return out;
}

int64_t LeanHost::liveValues() const { return impl_->live; }
int64_t LeanHost::liveBlocks() const { return int64_t(impl_->blocks.size()); }
int64_t LeanHost::interfaceReferences() const {
  return impl_->callback.refs + impl_->allocator.refs + impl_->values.refs + impl_->lists.refs;
}
int64_t LeanHost::protocolErrors() const { return impl_->protocolErrors; }

}  // namespace hx::pyhost
