// The host's inner state, shared by its files: value cells, lists,
// texts, dictionaries and the ports through which a module reaches them.
#pragma once

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
namespace detail {

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

inline bool isVoid(const HxValue& v) { return v.lo == 0 && v.hi == 0; }

// A value's two words as one, for the shortcuts' single compare. kNoKey
// (lo past any cell) stands for no value there.
inline uint64_t keyOf(const HxValue& v) {
  uint64_t key;
  std::memcpy(&key, &v, sizeof key);
  return key;
}
// Writes v as one 8-byte store: the module's next call reads it back as
// one key, and a load spanning two narrower stores cannot be forwarded.
inline void storeValue(HxValue* out, const HxValue& v) {
  const uint64_t key = keyOf(v);
  std::memcpy(out, &key, sizeof key);
}
static_assert(sizeof(HxValue) == sizeof(uint64_t));
constexpr uint64_t kNoKey = UINT64_MAX;

inline int32_t typeCode(Kind kind) {
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

}  // namespace detail
using namespace detail;

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
  // value after another to the same list. kNoKey once its cell is freed.
  uint64_t appendKey = kNoKey;
  uint32_t appendSide = 0;
  // The number made last, which the module appends and releases next, and
  // its cell; kNoKey and noCell (no references) once that cell is freed.
  Cell noCell;
  uint64_t madeKey = kNoKey;
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
  // The cell of the number made last when v is that number, else null.
  Cell* madeCellOf(const HxValue& v) { return keyOf(v) == madeKey ? madeCell : nullptr; }
  void forgetMade() {
    madeKey = kNoKey;
    madeCell = &noCell;
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
    const HxValue v{index + 1, generation};
    madeKey = keyOf(v);
    madeCell = &cell;
    return v;
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
    forgetMade();  // it may be among them
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
    if (index + 1 == static_cast<uint32_t>(appendKey)) appendKey = kNoKey;
    if (index + 1 == static_cast<uint32_t>(madeKey)) forgetMade();
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

namespace detail {

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

// The ports' tables, one per interface, each defined beside its slots.
extern const HxCallbackVtbl kCallbackVtbl;
extern const HxAllocatorVtbl kAllocatorVtbl;
extern const HxValueInterfaceVtbl kValuesVtbl;
extern const HxListInterfaceVtbl kListsVtbl;
extern const HxRegistryCacheVtbl kCacheVtbl;
extern const HxDictVtbl kDictVtbl;

// Slots the Host's own helpers call directly.
HxStatus HX_CALL appendToList(HxListInterface* self, HxValue* list, const HxValue* v);
HxStatus HX_CALL valueRelease(HxValueInterface* self, HxValue* v);

}  // namespace detail
}  // namespace hx::host
