#include "support/ref_object.h"

#include <cstring>
#include <new>

#include "support/module_alloc.h"

namespace hx {
namespace {

// Count of live RefObjects, for tests; module-wide and unguarded like the counts themselves.
int64_t gLiveObjects = 0;

// Copy of text, or null when text is null or memory is short.
char* copyText(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t size = std::strlen(text) + 1;
  char* copy = NewArrayOrNull<char>(size);
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

// Equality of two optional texts: none only equals none.
bool sameText(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

// RefObject

RefObject::RefObject(int16_t kind) : kindTag_(kind) { ++gLiveObjects; }

RefObject::~RefObject() { --gLiveObjects; }

int32_t RefObject::AddRef() { return ++refCount_; }

int32_t RefObject::Release() {
  const int32_t count = --refCount_;
  if (count == 0) delete this;
  return count;
}

int64_t RefObject::liveObjects() { return gLiveObjects; }

// RefString

RefString::RefString(const char* text) : RefObject(kString) {
  if (text == nullptr) return;
  const size_t size = std::strlen(text) + 1;
  text_ = new char[size];
  std::memcpy(text_, text, size);
}

RefString::RefString(Adopt, char* ownedText) : RefObject(kString), text_(ownedText) {}

RefString::~RefString() { delete[] text_; }

RefString* RefString::create(const char* text) {
  char* copy = copyText(text);
  if (text != nullptr && copy == nullptr) return nullptr;
  RefString* string = ModuleMayAllocate() ? new (std::nothrow) RefString(Adopt{}, copy) : nullptr;
  if (string == nullptr) delete[] copy;
  return string;
}

RefObject* RefString::Clone() const { return create(text_); }

bool RefString::Equals(const RefObject* other) const {
  if (other == this) return true;
  const auto* string = dynamic_cast<const RefString*>(other);
  return string != nullptr && sameText(text_, string->text_);
}

// RefPointer

RefPointer::RefPointer(void* data) : RefObject(kPointer), data_(data) {}

RefObject* RefPointer::Clone() const { return NewOrNull<RefPointer>(data_); }

bool RefPointer::Equals(const RefObject* other) const { return other == this; }

// RefMap

RefMap::RefMap() : RefObject(kMap) {}

RefMap::~RefMap() {
  Node* node = head_;
  head_ = tail_ = nullptr;
  count_ = 0;
  while (node != nullptr) {
    Node* next = node->next;
    node->key->Release();
    node->value->Release();
    delete node;
    node = next;
  }
}

RefObject* RefMap::Clone() const {
  RefMap* clone = NewOrNull<RefMap>();
  if (clone == nullptr) return nullptr;
  for (const Node* node = head_; node != nullptr; node = node->next) {
    if (!clone->Put(node->key, node->value)) {
      clone->Release();
      return nullptr;
    }
  }
  return clone;
}

bool RefMap::Equals(const RefObject* other) const {
  if (other == this) return true;
  const auto* map = dynamic_cast<const RefMap*>(other);
  if (map == nullptr || map->count_ != count_) return false;
  for (const Node *a = head_, *b = map->head_; a != nullptr && b != nullptr;
       a = a->next, b = b->next) {
    if (!a->key->Equals(b->key) || !a->value->Equals(b->value)) return false;
  }
  return true;
}

bool RefMap::Put(RefObject* key, RefObject* value) {
  if (key == nullptr || value == nullptr) return false;
  if (Node* node = find(key, nullptr)) {
    // Take the new value before letting go of the old: they may be the same object.
    value->AddRef();
    RefObject* old = node->value;
    node->value = value;
    old->Release();
    return true;
  }
  Node* node = NewOrNull<Node>(key, value, nullptr);
  if (node == nullptr) return false;
  key->AddRef();
  value->AddRef();
  if (tail_ == nullptr) {
    head_ = node;
  } else {
    tail_->next = node;
  }
  tail_ = node;
  ++count_;
  return true;
}

RefObject* RefMap::Get(const RefObject* key) const {
  const Node* node = find(key, nullptr);
  return node != nullptr ? node->value : nullptr;
}

void RefMap::Remove(const RefObject* key) {
  Node* previous = nullptr;
  if (Node* node = find(key, &previous)) unlink(node, previous);
}

bool RefMap::PutText(const char* text, RefObject* value) {
  RefString* key = RefString::create(text);
  if (key == nullptr) return false;
  const bool stored = Put(key, value);
  key->Release();
  return stored;
}

RefObject* RefMap::GetText(const char* text) const {
  const Node* node = findText(text, nullptr);
  return node != nullptr ? node->value : nullptr;
}

void RefMap::RemoveText(const char* text) {
  Node* previous = nullptr;
  if (Node* node = findText(text, &previous)) unlink(node, previous);
}

void RefMap::RemoveAt(int32_t position) {
  Node* previous = nullptr;
  if (Node* node = nodeAt(position, &previous)) unlink(node, previous);
}

RefObject* RefMap::KeyAt(int32_t position) const {
  const Node* node = nodeAt(position, nullptr);
  return node != nullptr ? node->key : nullptr;
}

RefObject* RefMap::ValueAt(int32_t position) const {
  const Node* node = nodeAt(position, nullptr);
  return node != nullptr ? node->value : nullptr;
}

// The node leaves the chain before its objects are released, so whatever
// their destruction does cannot see a half-removed entry.
void RefMap::unlink(Node* node, Node* previous) {
  if (previous == nullptr) {
    head_ = node->next;
  } else {
    previous->next = node->next;
  }
  if (tail_ == node) tail_ = previous;
  --count_;
  node->key->Release();
  node->value->Release();
  delete node;
}

RefMap::Node* RefMap::nodeAt(int32_t position, Node** previous) const {
  if (position < 0 || position >= count_) return nullptr;
  Node* before = nullptr;
  Node* node = head_;
  for (int32_t i = 0; i < position; ++i) {
    before = node;
    node = node->next;
  }
  if (previous != nullptr) *previous = before;
  return node;
}

RefMap::Node* RefMap::find(const RefObject* key, Node** previous) const {
  if (key == nullptr) return nullptr;
  Node* before = nullptr;
  for (Node* node = head_; node != nullptr; before = node, node = node->next) {
    if (node->key->Equals(key)) {
      if (previous != nullptr) *previous = before;
      return node;
    }
  }
  return nullptr;
}

// Matches exactly the keys that would equal a RefString made from text:
// only string keys can.
RefMap::Node* RefMap::findText(const char* text, Node** previous) const {
  Node* before = nullptr;
  for (Node* node = head_; node != nullptr; before = node, node = node->next) {
    const auto* key = dynamic_cast<const RefString*>(node->key);
    if (key != nullptr && sameText(key->text(), text)) {
      if (previous != nullptr) *previous = before;
      return node;
    }
  }
  return nullptr;
}

}  // namespace hx
