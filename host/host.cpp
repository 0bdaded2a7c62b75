// The Host: its interfaces, counters and helpers for clients and tests.
#include "host/host_impl.h"

namespace hx::host {

Host::Impl::Impl()
    : callback{{&kCallbackVtbl}, this, 0},
      allocator{{&kAllocatorVtbl}, this, 0},
      values{{&kValuesVtbl}, this, 0},
      lists{{&kListsVtbl}, this, 0},
      cache{{&kCacheVtbl}, this, 0} {}

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
