#include "host/host.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <unordered_map>
#include <utility>

#include "hx_ids.h"

namespace hx::host {
namespace {

// A value is a cell index + 1 in lo and the cell's generation in hi, so a
// value kept after its last release no longer matches once the cell is
// reused. Generations start at 1: {n, 0} is never a live value.
enum class Kind : uint8_t { Free, Integer, Float, String, List, Object };

// 16 bytes, so that a list of a million floats costs 20 MB (cell plus slot),
// not hundreds. Texts and list slots live in side tables, named by `side`.
constexpr uint32_t kGenerationMask = (1u << 28) - 1;
constexpr uint32_t kMaxRefs = UINT32_MAX - 1;
constexpr uint32_t kNoCell = UINT32_MAX;

struct Cell {
  uint32_t generation : 28 = 1;
  uint32_t kindBits : 4 = 0;
  uint32_t refs = 0;
  union {
    int32_t integer;
    double real;
    uint32_t side;      // String, List: index into strings / lists
    uint32_t nextFree;  // Free: the next free cell, or kNoCell
  };
  Kind kind() const { return static_cast<Kind>(kindBits); }
};
static_assert(sizeof(Cell) == 16);

// A list's slots hold the lo of each element (0 for void): while the list
// holds its reference the element's cell, and so its generation, stays.
struct ListData {
  std::vector<uint32_t> items;
  int64_t heldByLists = 0;  // slots of other lists that hold this list
};

// Cells in fixed chunks: growing never copies them, and no doubling makes
// the peak twice the need.
constexpr uint32_t kChunkBits = 16;
constexpr uint32_t kChunkCells = 1u << kChunkBits;
constexpr size_t kMaxSpareSlots = size_t{1} << 20;

bool isVoid(const HxValue& v) { return v.lo == 0 && v.hi == 0; }

int32_t typeCode(Kind kind) {
  switch (kind) {
    case Kind::Integer: return HX_TYPE_INTEGER;
    case Kind::Float: return HX_TYPE_FLOAT;
    case Kind::String: return HX_TYPE_STRING;
    case Kind::List: return HX_TYPE_LIST;
    case Kind::Object: return kTypeObject;
    case Kind::Free: break;
  }
  return kTypeInvalid;
}

// A host interface: the C struct the module sees, then our own fields.
// Standard layout, so the interface pointer converts back to the port.
template <class Iface>
struct Port {
  Iface iface;
  Host::Impl* impl;
  int64_t refs;
};

struct DictPort {
  HxDict iface;
  Host::Impl* impl;
  int64_t refs;
  size_t index;
};

struct DictData {
  bool isEntryDict = false;
  HxGuid classId{};
  HxGuid interfaceId{};
  std::map<std::string, RegistryEntry> entries;
};

// Larger requests are refused rather than handed to the system allocator.
constexpr uint32_t kMaxBlock = 1u << 30;
// Freshly allocated blocks are filled with this, so a module that relies
// on zeroed memory shows itself.
constexpr int kFreshByte = 0xA5;
constexpr size_t kMaxLoggedErrors = 256;
constexpr int kMaxFormatDepth = 64;

}  // namespace

struct Host::Impl {
  Impl();

  Port<HxCallback> callback;
  Port<HxAllocator> allocator;
  Port<HxValueInterface> values;
  Port<HxListInterface> lists;
  Port<HxRegistryCache> cache;
  std::deque<DictPort> dictPorts;
  std::deque<DictData> dicts;

  std::vector<std::unique_ptr<Cell[]>> chunks;
  uint32_t cellCount = 0;
  uint32_t freeHead = kNoCell;
  std::vector<std::string> strings;
  std::vector<uint32_t> freeStrings;
  std::vector<ListData> listData;
  std::vector<uint32_t> freeLists;
  std::vector<uint32_t> dyingLists;  // scratch of releaseLive
  // Slots of the last list freed, kept empty for the next new list, so that
  // a script building one result list after another does not regrow (and
  // page-fault) the slot array every time. At most kMaxSpareSlots.
  std::vector<uint32_t> spareSlots;
  int64_t liveValues = 0;
  // The list last appended to, checked in full then: a module appends one
  // value after another to the same list. Cleared when its cell is freed.
  HxValue appendList{0, 0};
  uint32_t appendSide = 0;
  // The cell of the number made last, which the module appends and
  // releases next. Cells never move; noCell (free) stands in at first.
  Cell noCell;
  uint32_t madeLo = 0;
  Cell* madeCell = &noCell;

  std::unordered_map<void*, uint32_t> blocks;
  int failAllocations = 0;
  // Failure injection by position: the k-th HostAlloc, or the k-th value
  // made or appended through the interfaces, counted from when it was set.
  int64_t allocFailAt = 0;
  int64_t allocSeen = 0;
  int64_t valueFailAt = 0;
  int64_t valueSeen = 0;
  // A host that lacks one of the interfaces (QueryInterface refuses it).
  bool withholdValues = false;
  bool withholdLists = false;

  bool allocationMayProceed() {
    ++allocSeen;
    return allocFailAt == 0 || allocSeen != allocFailAt;
  }
  // Called inside guarded(): the injected failure is a bad_alloc, as a real
  // one would be.
  void valueMayGrow() {
    ++valueSeen;
    if (valueFailAt != 0 && valueSeen == valueFailAt) throw std::bad_alloc();
  }

  int64_t protocolErrors = 0;
  std::vector<std::string> errorLog;

  void protocolError(std::string what) {
    ++protocolErrors;
    if (errorLog.size() < kMaxLoggedErrors) errorLog.push_back(std::move(what));
  }
  HxStatus fail(HxStatus status, const char* what) {
    protocolError(what);
    return status;
  }

  Cell& cellAt(uint32_t index) { return chunks[index >> kChunkBits][index & (kChunkCells - 1)]; }
  const Cell& cellAt(uint32_t index) const {
    return chunks[index >> kChunkBits][index & (kChunkCells - 1)];
  }

  // Live cell of v, or null for void, stale and forged values.
  Cell* cellOf(const HxValue& v) {
    if (v.lo == 0 || v.lo > cellCount) return nullptr;
    Cell& cell = cellAt(v.lo - 1);
    if (cell.kind() == Kind::Free || cell.generation != v.hi) return nullptr;
    return &cell;
  }
  const Cell* cellOf(const HxValue& v) const { return const_cast<Impl*>(this)->cellOf(v); }
  // cellOf, with a shortcut for the number made last.
  Cell* recentCellOf(const HxValue& v) {
    if (v.lo != madeLo) return cellOf(v);
    Cell* cell = madeCell;
    return cell->kind() == Kind::Free || cell->generation != v.hi ? nullptr : cell;
  }

  // The value a list slot stands for.
  HxValue slotValue(uint32_t lo) const {
    return lo == 0 ? HxValue{0, 0} : HxValue{lo, cellAt(lo - 1).generation};
  }

  std::string& textOf(const Cell& cell) { return strings[cell.side]; }
  const std::string& textOf(const Cell& cell) const { return strings[cell.side]; }
  ListData& listOf(const Cell& cell) { return listData[cell.side]; }
  const ListData& listOf(const Cell& cell) const { return listData[cell.side]; }

  template <class T>
  static uint32_t takeSlot(std::vector<T>& table, std::vector<uint32_t>& free) {
    if (!free.empty()) {
      const uint32_t i = free.back();
      free.pop_back();
      return i;
    }
    if (table.size() >= UINT32_MAX - 1) throw std::bad_alloc();
    table.emplace_back();
    return static_cast<uint32_t>(table.size() - 1);
  }

  HxValue newCell(Kind kind) {
    // Side data first, so that a failure leaves no half-made cell.
    uint32_t side = 0;
    if (kind == Kind::String) side = takeSlot(strings, freeStrings);
    if (kind == Kind::List) {
      side = takeSlot(listData, freeLists);
      listData[side].items = std::move(spareSlots);
      spareSlots = std::vector<uint32_t>();
    }
    uint32_t index;
    if (freeHead != kNoCell) [[likely]] {
      index = freeHead;
      freeHead = cellAt(index).nextFree;
    } else {
      if (cellCount >= UINT32_MAX - 1) {
        dropSide(kind, side);
        throw std::bad_alloc();
      }
      if ((cellCount & (kChunkCells - 1)) == 0) {
        try {
          chunks.push_back(std::make_unique<Cell[]>(kChunkCells));
        } catch (...) {
          dropSide(kind, side);
          throw;
        }
      }
      index = cellCount++;
    }
    Cell& cell = cellAt(index);
    cell.kindBits = static_cast<uint32_t>(kind);
    cell.refs = 1;
    cell.real = 0.0;
    if (kind == Kind::String || kind == Kind::List) cell.side = side;
    ++liveValues;
    return HxValue{index + 1, cell.generation};
  }

  // New values of each kind, for the *ToValue slots and Host::make* alike
  // (only the slots count a value and may fail on purpose).
  HxValue newInteger(int32_t n) {
    HxValue v = newCell(Kind::Integer);
    cellOf(v)->integer = n;
    return v;
  }
  HxValue newFloat(double x) {
    HxValue v = newCell(Kind::Float);
    cellAt(v.lo - 1).real = x;
    return v;
  }
  HxValue newString(std::string text) {
    HxValue v = newCell(Kind::String);
    textOf(*cellOf(v)) = std::move(text);
    return v;
  }

  // A number or object cell from the free list (which must not be empty).
  HxValue newScalar(Kind kind) {
    const uint32_t index = freeHead;
    Cell& cell = cellAt(index);
    freeHead = cell.nextFree;
    const uint32_t generation = cell.generation;
    cell.kindBits = static_cast<uint32_t>(kind);
    cell.refs = 1;
    ++liveValues;
    madeLo = index + 1;
    madeCell = &cell;
    return HxValue{index + 1, generation};
  }

  void dropSide(Kind kind, uint32_t side) {
    if (kind == Kind::String) {
      strings[side] = std::string();
      freeStrings.push_back(side);  // capacity was there: it came from this table
    } else if (kind == Kind::List) {
      listData[side] = ListData();
      freeLists.push_back(side);
    }
  }

  // One reference more, unless the count is full (then false).
  static bool addRef(Cell& cell) {
    if (cell.refs >= kMaxRefs) return false;
    ++cell.refs;
    return true;
  }

  // Gives back one reference of a live value; a list's last reference
  // releases its elements. Iterative, so deep nesting cannot exhaust the
  // stack, and allocation-free unless a list dies.
  void releaseLive(const HxValue& v) {
    dyingLists.clear();
    dropReference(v.lo - 1, false);
    while (!dyingLists.empty()) {
      const uint32_t index = dyingLists.back();
      dyingLists.pop_back();
      std::vector<uint32_t> items = std::move(listOf(cellAt(index)).items);
      freeCell(index);
      dropElements(items);
      if (items.capacity() > spareSlots.capacity() && items.capacity() <= kMaxSpareSlots) {
        items.clear();
        spareSlots = std::move(items);
      }
    }
  }

  // One reference less on each element of a dying list. Numbers are freed
  // here with the free list head and the live count in registers (a long
  // list of numbers is the usual case); strings and lists take the general
  // path. Last element first: the free list then hands the cells out in
  // ascending order as the next list is built.
  void dropElements(const std::vector<uint32_t>& items) {
    uint32_t head = freeHead;
    int64_t freed = 0;
    for (size_t i = items.size(); i-- > 0;) {
      const uint32_t lo = items[i];
      if (lo == 0) continue;
      Cell& cell = cellAt(lo - 1);
      if (cell.kind() == Kind::String || cell.kind() == Kind::List) [[unlikely]] {
        freeHead = head;
        liveValues -= freed;
        freed = 0;
        dropReference(lo - 1, true);
        head = freeHead;
        continue;
      }
      if (--cell.refs != 0) continue;
      // Generation read before the kind is written: a narrow store then a
      // wide load of the same word would stall.
      uint32_t generation = (cell.generation + 1) & kGenerationMask;
      if (generation == 0) generation = 1;
      cell.generation = generation;
      cell.kindBits = static_cast<uint32_t>(Kind::Free);
      cell.nextFree = head;
      head = lo - 1;
      ++freed;
    }
    freeHead = head;
    liveValues -= freed;
  }

  void dropReference(uint32_t index, bool fromList) {
    Cell& cell = cellAt(index);
    if (cell.kind() == Kind::List && fromList) --listOf(cell).heldByLists;
    if (--cell.refs != 0) return;
    if (cell.kind() == Kind::List) dyingLists.push_back(index);
    else freeCell(index);
  }

  void freeCell(uint32_t index) {
    Cell& cell = cellAt(index);
    if (index + 1 == appendList.lo) appendList = HxValue{0, 0};
    if (cell.kind() == Kind::String || cell.kind() == Kind::List) [[unlikely]]
      dropSide(cell.kind(), cell.side);
    uint32_t generation = (cell.generation + 1) & kGenerationMask;
    if (generation == 0) generation = 1;
    cell.generation = generation;
    cell.kindBits = static_cast<uint32_t>(Kind::Free);
    cell.refs = 0;
    cell.nextFree = freeHead;
    freeHead = index;
    --liveValues;
  }

  // True when target is from itself or one of its elements at any depth.
  bool reaches(const HxValue& from, const HxValue& target) const {
    if (from.lo == target.lo && from.hi == target.hi) return true;
    // Only a value some list holds can be found inside another list; this
    // keeps the usual append (a fresh list into a new one) constant-time.
    const Cell* t = cellOf(target);
    if (t == nullptr || t->kind() != Kind::List || listOf(*t).heldByLists == 0) return false;
    std::vector<HxValue> pending{from};
    while (!pending.empty()) {
      HxValue next = pending.back();
      pending.pop_back();
      if (next.lo == target.lo && next.hi == target.hi) return true;
      const Cell* cell = cellOf(next);
      if (cell != nullptr && cell->kind() == Kind::List)
        for (uint32_t lo : listOf(*cell).items) pending.push_back(slotValue(lo));
    }
    return false;
  }

  void format(const HxValue& v, int depth, std::string& out) const;

  DictPort* newDict(bool isEntryDict, const HxGuid& classId, const HxGuid& interfaceId);
  DictData* dictOf(HxDict* self) {
    auto* port = reinterpret_cast<DictPort*>(self);
    if (port->index >= dicts.size() || &dictPorts[port->index] != port) return nullptr;
    return &dicts[port->index];
  }
};

namespace {

template <class Iface>
Host::Impl* implOf(Iface* self) {
  return reinterpret_cast<Port<Iface>*>(self)->impl;
}

// Nothing thrown may cross back into the module.
template <class Fn>
HxStatus guarded(Fn&& fn) {
  try {
    return fn();
  } catch (...) {
    return HX_E_OUT_OF_MEMORY;
  }
}

// ---- shared unknown slots -------------------------------------------------

template <class Iface>
uint32_t HX_CALL portAddRef(Iface* self) {
  auto* port = reinterpret_cast<Port<Iface>*>(self);
  return static_cast<uint32_t>(++port->refs);
}

template <class Iface>
uint32_t HX_CALL portRelease(Iface* self) {
  auto* port = reinterpret_cast<Port<Iface>*>(self);
  if (port->refs <= 0) {
    port->impl->protocolError("Release of a host interface without a reference");
    return 0;
  }
  return static_cast<uint32_t>(--port->refs);
}

template <class Iface>
HxStatus HX_CALL noInterface(Iface* self, const HxGuid* iid, void** out) {
  if (out == nullptr || iid == nullptr)
    return implOf(self)->fail(HX_E_INVALID_ARG, "QueryInterface with a null pointer");
  *out = nullptr;
  return HX_E_NO_INTERFACE;
}

// ---- callback ----------------------------------------------------------------

HxStatus HX_CALL callbackQueryInterface(HxCallback* self, const HxGuid* iid, void** out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr || iid == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "QueryInterface with a null pointer");
  static const HxGuid kValues = HX_IID_VALUE_INTERFACE;
  static const HxGuid kLists = HX_IID_LIST_INTERFACE;
  if (sameGuid(*iid, kValues) && !impl->withholdValues) {
    ++impl->values.refs;
    *out = &impl->values.iface;
    return HX_OK;
  }
  if (sameGuid(*iid, kLists) && !impl->withholdLists) {
    ++impl->lists.refs;
    *out = &impl->lists.iface;
    return HX_OK;
  }
  *out = nullptr;
  return HX_E_NO_INTERFACE;
}

const HxCallbackVtbl kCallbackVtbl = {callbackQueryInterface, portAddRef<HxCallback>,
                                      portRelease<HxCallback>};

// ---- allocator ---------------------------------------------------------------

void* HX_CALL hostAlloc(HxAllocator* self, uint32_t size) {
  Host::Impl* impl = implOf(self);
  if (impl->failAllocations > 0) {
    --impl->failAllocations;
    return nullptr;
  }
  if (!impl->allocationMayProceed()) return nullptr;
  if (size > kMaxBlock) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  try {
    impl->blocks.emplace(block, size);
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  std::memset(block, kFreshByte, size);
  return block;
}

void HX_CALL hostFree(HxAllocator* self, void* block) {
  if (block == nullptr) return;
  Host::Impl* impl = implOf(self);
  auto it = impl->blocks.find(block);
  if (it == impl->blocks.end()) {
    impl->protocolError("HostFree of a block the allocator does not own");
    return;
  }
  impl->blocks.erase(it);
  std::free(block);
}

const HxAllocatorVtbl kAllocatorVtbl = {noInterface<HxAllocator>, portAddRef<HxAllocator>,
                                        portRelease<HxAllocator>, hostAlloc, hostFree};

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
    *out = impl->newScalar(Kind::Float);
    impl->cellAt(out->lo - 1).real = x;
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
    if (Cell* cell = impl->recentCellOf(*v); cell != nullptr && cell->refs > 1) [[likely]] {
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
  impl->appendList = *list;
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
  if (list != nullptr && v != nullptr && list->lo == impl->appendList.lo && list->lo != 0 &&
      list->hi == impl->appendList.hi && impl->valueFailAt == 0) [[likely]] {
    Cell* element = impl->recentCellOf(*v);
    std::vector<uint32_t>& items = impl->listData[impl->appendSide].items;
    if (element != nullptr && element->kind() != Kind::List && element->refs < kMaxRefs &&
        items.size() < items.capacity()) [[likely]] {
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

// ---- registry ----------------------------------------------------------------

uint32_t HX_CALL dictAddRef(HxDict* self) {
  return static_cast<uint32_t>(++reinterpret_cast<DictPort*>(self)->refs);
}

uint32_t HX_CALL dictRelease(HxDict* self) {
  auto* port = reinterpret_cast<DictPort*>(self);
  if (port->refs <= 0) {
    port->impl->protocolError("Release of a registry dictionary without a reference");
    return 0;
  }
  return static_cast<uint32_t>(--port->refs);
}

HxStatus HX_CALL dictQueryInterface(HxDict* self, const HxGuid* iid, void** out) {
  if (out == nullptr || iid == nullptr)
    return reinterpret_cast<DictPort*>(self)->impl->fail(HX_E_INVALID_ARG,
                                                         "QueryInterface with a null pointer");
  *out = nullptr;
  return HX_E_NO_INTERFACE;
}

HxStatus HX_CALL registryPut(HxDict* self, int32_t type, const void* data, int32_t size,
                             const char* key) {
  Host::Impl* impl = reinterpret_cast<DictPort*>(self)->impl;
  DictData* dict = impl->dictOf(self);
  if (dict == nullptr) return impl->fail(HX_E_INVALID_ARG, "RegistryPut on an unknown dictionary");
  if (key == nullptr || data == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "RegistryPut with a null pointer");
  if (size < 0) return impl->fail(HX_E_INVALID_ARG, "RegistryPut with a negative size");
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t length = static_cast<size_t>(size);
  if (type == HX_REG_TYPE_TEXT) {
    if (size == 0) length = std::strlen(static_cast<const char*>(data));
    else if (bytes[length - 1] == 0) --length;  // stored without its terminator
  }
  return guarded([&] {
    RegistryEntry entry{type, std::vector<uint8_t>(bytes, bytes + length)};
    dict->entries[key] = std::move(entry);
    return HX_OK;
  });
}

const HxDictVtbl kDictVtbl = {dictQueryInterface, dictAddRef, dictRelease, registryPut};

HxStatus HX_CALL addRegistryEntry(HxRegistryCache* self, HxDict* entryDict, const HxGuid* classId,
                                  const HxGuid* interfaceId, HxDict** out) {
  Host::Impl* impl = implOf(self);
  if (classId == nullptr || interfaceId == nullptr || out == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "AddRegistryEntry with a null pointer");
  if (entryDict != nullptr) {
    DictData* given = impl->dictOf(entryDict);
    if (given == nullptr || !given->isEntryDict)
      return impl->fail(HX_E_INVALID_ARG, "AddRegistryEntry with a foreign entry dictionary");
  }
  return guarded([&] {
    for (DictPort& port : impl->dictPorts) {
      const DictData& data = impl->dicts[port.index];
      if (!data.isEntryDict && sameGuid(data.classId, *classId) &&
          sameGuid(data.interfaceId, *interfaceId)) {
        *out = &port.iface;
        return HX_OK;
      }
    }
    *out = &impl->newDict(false, *classId, *interfaceId)->iface;
    return HX_OK;
  });
}

const HxRegistryCacheVtbl kCacheVtbl = {noInterface<HxRegistryCache>,
                                        portAddRef<HxRegistryCache>,
                                        portRelease<HxRegistryCache>, addRegistryEntry};

}  // namespace

Host::Impl::Impl()
    : callback{{&kCallbackVtbl}, this, 0},
      allocator{{&kAllocatorVtbl}, this, 0},
      values{{&kValuesVtbl}, this, 0},
      lists{{&kListsVtbl}, this, 0},
      cache{{&kCacheVtbl}, this, 0} {}

DictPort* Host::Impl::newDict(bool isEntryDict, const HxGuid& classId, const HxGuid& interfaceId) {
  dicts.push_back(DictData{isEntryDict, classId, interfaceId, {}});
  dictPorts.push_back(DictPort{{&kDictVtbl}, this, 0, dicts.size() - 1});
  return &dictPorts.back();
}

// Escaped so that a printed value always stays on one line and reads back
// the way a script writes it.
static void appendQuoted(const std::string& text, std::string& out) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  out += '"';
}

void Host::Impl::format(const HxValue& v, int depth, std::string& out) const {
  if (isVoid(v)) {
    out += "<void>";
    return;
  }
  const Cell* cell = cellOf(v);
  if (cell == nullptr) {
    out += "<invalid>";
    return;
  }
  char buf[64];
  switch (cell->kind()) {
    case Kind::Integer:
      std::snprintf(buf, sizeof buf, "%" PRId32, cell->integer);
      out += buf;
      break;
    case Kind::Float:
      std::snprintf(buf, sizeof buf, "%.9g", cell->real);
      out += buf;
      break;
    case Kind::String:
      appendQuoted(textOf(*cell), out);
      break;
    case Kind::Object:
      out += "<object>";
      break;
    case Kind::List:
      if (depth >= kMaxFormatDepth) {
        out += "[...]";
        break;
      }
      out += '[';
      for (size_t i = 0; i < listOf(*cell).items.size(); ++i) {
        if (i > 0) out += ", ";
        format(slotValue(listOf(*cell).items[i]), depth + 1, out);
      }
      out += ']';
      break;
    case Kind::Free:
      break;
  }
}

// ---- Host --------------------------------------------------------------------

Host::Host() : impl_(std::make_unique<Impl>()) {}

Host::~Host() {
  for (auto& [block, size] : impl_->blocks) std::free(block);
}

HxCallback* Host::callback() { return &impl_->callback.iface; }
HxAllocator* Host::allocator() { return &impl_->allocator.iface; }
HxValueInterface* Host::values() { return &impl_->values.iface; }
HxListInterface* Host::lists() { return &impl_->lists.iface; }
HxRegistryCache* Host::registryCache() { return &impl_->cache.iface; }
HxDict* Host::newEntryDict() { return &impl_->newDict(true, HxGuid{}, HxGuid{})->iface; }

int64_t Host::liveValues() const { return impl_->liveValues; }
int64_t Host::liveBlocks() const { return static_cast<int64_t>(impl_->blocks.size()); }

int64_t Host::interfaceReferences() const {
  int64_t refs = impl_->callback.refs + impl_->allocator.refs + impl_->values.refs +
                 impl_->lists.refs + impl_->cache.refs;
  for (const DictPort& port : impl_->dictPorts) refs += port.refs;
  return refs;
}

int64_t Host::protocolErrors() const { return impl_->protocolErrors; }
const std::vector<std::string>& Host::protocolErrorLog() const { return impl_->errorLog; }
void Host::noteProtocolError(std::string what) { impl_->protocolError(std::move(what)); }
void Host::failNextAllocations(int n) { impl_->failAllocations = n; }
void Host::failAllocationAt(int64_t k) {
  impl_->allocFailAt = k < 0 ? 0 : k;
  impl_->allocSeen = 0;
}
int64_t Host::allocationsSeen() const { return impl_->allocSeen; }
void Host::failValueAt(int64_t k) {
  impl_->valueFailAt = k < 0 ? 0 : k;
  impl_->valueSeen = 0;
}
int64_t Host::valuesSeen() const { return impl_->valueSeen; }
void Host::withholdInterfaces(bool values, bool lists) {
  impl_->withholdValues = values;
  impl_->withholdLists = lists;
}

std::optional<uint32_t> Host::blockSize(const void* block) const {
  auto it = impl_->blocks.find(const_cast<void*>(block));
  if (it == impl_->blocks.end()) return std::nullopt;
  return it->second;
}

HxValue Host::makeInteger(int32_t n) { return impl_->newInteger(n); }
HxValue Host::makeFloat(double x) { return impl_->newFloat(x); }

HxValue Host::makeString(std::string_view text) {
  // A module reads texts up to their first NUL, so such a value would be
  // taken for a shorter one.
  if (text.find('\0') != std::string_view::npos) {
    impl_->protocolError("makeString with an embedded NUL");
    return kVoidValue;
  }
  return impl_->newString(std::string(text));
}

HxValue Host::makeList() { return impl_->newCell(Kind::List); }
HxValue Host::makeObject() { return impl_->newCell(Kind::Object); }

void Host::append(HxValue& list, const HxValue& v) {
  appendToList(lists(), &list, &v);
}

void Host::release(HxValue& v) {
  valueRelease(values(), &v);
  v = kVoidValue;
}

bool Host::isLive(const HxValue& v) const { return impl_->cellOf(v) != nullptr; }

int32_t Host::typeOf(const HxValue& v) const {
  if (isVoid(v)) return HX_TYPE_VOID;
  const Cell* cell = impl_->cellOf(v);
  return cell == nullptr ? kTypeInvalid : typeCode(cell->kind());
}

std::optional<int32_t> Host::integerOf(const HxValue& v) const {
  const Cell* cell = impl_->cellOf(v);
  if (cell == nullptr || cell->kind() != Kind::Integer) return std::nullopt;
  return cell->integer;
}

std::optional<double> Host::floatOf(const HxValue& v) const {
  const Cell* cell = impl_->cellOf(v);
  if (cell == nullptr || cell->kind() != Kind::Float) return std::nullopt;
  return cell->real;
}

std::optional<std::string> Host::stringOf(const HxValue& v) const {
  const Cell* cell = impl_->cellOf(v);
  if (cell == nullptr || cell->kind() != Kind::String) return std::nullopt;
  return impl_->textOf(*cell);
}

std::vector<HxValue> Host::elementsOf(const HxValue& v) const {
  const Cell* cell = impl_->cellOf(v);
  if (cell == nullptr || cell->kind() != Kind::List) return {};
  std::vector<HxValue> out;
  out.reserve(impl_->listOf(*cell).items.size());
  for (uint32_t lo : impl_->listOf(*cell).items) out.push_back(impl_->slotValue(lo));
  return out;
}

std::string Host::format(const HxValue& v) const {
  std::string out;
  impl_->format(v, 0, out);
  return out;
}

std::optional<RegistryEntry> Host::registryEntry(const HxGuid& classId,
                                                 const std::string& key) const {
  for (const DictData& dict : impl_->dicts) {
    if (dict.isEntryDict || !sameGuid(dict.classId, classId)) continue;
    auto it = dict.entries.find(key);
    if (it != dict.entries.end()) return it->second;
  }
  return std::nullopt;
}

std::string guidText(const HxGuid& id) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                id.data1, static_cast<unsigned>(id.data2), static_cast<unsigned>(id.data3),
                id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4], id.data4[5],
                id.data4[6], id.data4[7]);
  return buf;
}

bool sameGuid(const HxGuid& a, const HxGuid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

}  // namespace hx::host
