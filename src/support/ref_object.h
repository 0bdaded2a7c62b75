// Reference-counted objects and the insertion-ordered keyed table made of them.
// Counts are plain integers: everything runs on the host's thread.
#pragma once

#include <cstdint>

namespace hx {

class RefObject {
 public:
  enum Kind : int16_t { kBase = 0, kString = 1, kMap = 3, kPointer = 4 };

  RefObject(const RefObject&) = delete;
  RefObject& operator=(const RefObject&) = delete;

  virtual ~RefObject();
  int32_t AddRef();
  // Destroys the object when the count reaches 0; returns the new count.
  int32_t Release();
  // New object with a count of 1 owned by the caller; null when memory is short.
  virtual RefObject* Clone() const = 0;
  // Called on the stored object with the searched-for one; false for null.
  virtual bool Equals(const RefObject* other) const = 0;

  int32_t refCount() const { return refCount_; }
  int16_t kindTag() const { return kindTag_; }

  // Objects alive in the process, for tests that check every count returns to 0.
  static int64_t liveObjects();

 protected:
  explicit RefObject(int16_t kind);

 private:
  int32_t refCount_ = 1;
  int16_t kindTag_ = kBase;
};

class RefString final : public RefObject {
 public:
  // Copies text; null gives an object without text. Use create() where a
  // failed copy must not throw.
  explicit RefString(const char* text);
  ~RefString() override;
  // Null when memory is short.
  static RefString* create(const char* text);
  RefObject* Clone() const override;
  // Texts compare byte for byte, case included. An object without text
  // equals only another object without text (so a clone equals its source),
  // never one holding a text, not even "".
  bool Equals(const RefObject* other) const override;
  const char* text() const { return text_; }

 private:
  struct Adopt {};
  RefString(Adopt, char* ownedText);

  char* text_ = nullptr;
};

class RefPointer final : public RefObject {
 public:
  explicit RefPointer(void* data);
  ~RefPointer() override = default;
  RefObject* Clone() const override;
  // Only the same object: two pointer objects never equal each other.
  bool Equals(const RefObject* other) const override;
  void* data() const { return data_; }

 private:
  void* data_;  // not owned
};

// Entries keep the order they were first added in; every search walks the
// chain from the oldest entry. The map holds one reference to each key and
// value it stores; objects it hands out carry no new reference.
class RefMap final : public RefObject {
 public:
  RefMap();
  ~RefMap() override;
  // Shares the keys and values of this map.
  RefObject* Clone() const override;
  // Same count and, position by position, equal keys and equal values.
  bool Equals(const RefObject* other) const override;

  // Returns false only when memory for a new node or key is short; the map is then unchanged.
  // A null key or value is refused the same way. An equal key keeps its first
  // key object and takes the new value in place.
  bool Put(RefObject* key, RefObject* value);
  RefObject* Get(const RefObject* key) const;  // no new reference
  void Remove(const RefObject* key);
  bool PutText(const char* text, RefObject* value);
  // The text forms find the entry filed under an equal RefString without
  // making one, so lookups and removals cannot fail for lack of memory.
  RefObject* GetText(const char* text) const;
  void RemoveText(const char* text);
  void RemoveAt(int32_t position);
  RefObject* KeyAt(int32_t position) const;
  RefObject* ValueAt(int32_t position) const;
  int32_t Count() const { return count_; }

 private:
  struct Node {
    RefObject* key;
    RefObject* value;
    Node* next;
  };
  void unlink(Node* node, Node* previous);
  Node* nodeAt(int32_t position, Node** previous) const;
  Node* find(const RefObject* key, Node** previous) const;
  Node* findText(const char* text, Node** previous) const;

  int32_t count_ = 0;
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
};

}  // namespace hx
