#include "support/ref_object.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Nothrow allocations left before one fails; negative means none fails.
// The module allocates with nothrow new only, so this reaches every
// allocation it makes. Memory still comes from the ordinary operator new so
// the matching delete (and the sanitizer) see the usual pairs.
namespace {
int gNothrowBudget = -1;

bool takeNothrowAllocation() {
  if (gNothrowBudget == 0) return false;
  if (gNothrowBudget > 0) --gNothrowBudget;
  return true;
}
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (!takeNothrowAllocation()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (!takeNothrowAllocation()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace hx {
namespace {

class FailNothrowAfter {
 public:
  explicit FailNothrowAfter(int allocations) { gNothrowBudget = allocations; }
  ~FailNothrowAfter() { gNothrowBudget = -1; }
  FailNothrowAfter(const FailNothrowAfter&) = delete;
  FailNothrowAfter& operator=(const FailNothrowAfter&) = delete;
};

struct Releaser {
  void operator()(RefObject* object) const { object->Release(); }
};
template <class T>
using Ref = std::unique_ptr<T, Releaser>;

Ref<RefString> str(const char* text) { return Ref<RefString>(RefString::create(text)); }
Ref<RefPointer> ptr(void* data) { return Ref<RefPointer>(new RefPointer(data)); }
Ref<RefMap> map() { return Ref<RefMap>(new RefMap()); }

// Key texts of a text-keyed map, position 0 first.
std::vector<std::string> keyTexts(const RefMap& m) {
  std::vector<std::string> texts;
  for (int32_t i = 0; i < m.Count(); ++i) {
    const auto* key = dynamic_cast<const RefString*>(m.KeyAt(i));
    texts.push_back(key != nullptr && key->text() != nullptr ? key->text() : "<?>");
  }
  return texts;
}

using Texts = std::vector<std::string>;

// Every test must give back every reference it took.
class RefTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = RefObject::liveObjects(); }
  void TearDown() override { EXPECT_EQ(RefObject::liveObjects(), liveAtStart_); }

  int data_[4] = {};  // outside objects for pointer values

 private:
  int64_t liveAtStart_ = 0;
};

// Reference counting

TEST_F(RefTest, NewObjectStartsAtOneAndLastReleaseDestroysIt) {
  const int64_t before = RefObject::liveObjects();
  RefObject* objects[] = {RefString::create("a"), new RefString("b"), new RefPointer(nullptr),
                          new RefMap()};
  EXPECT_EQ(RefObject::liveObjects(), before + 4);
  for (RefObject* o : objects) {
    EXPECT_EQ(o->refCount(), 1);
    EXPECT_EQ(o->AddRef(), 2);
    EXPECT_EQ(o->Release(), 1);
    EXPECT_EQ(o->Release(), 0);
  }
  EXPECT_EQ(RefObject::liveObjects(), before);
}

TEST_F(RefTest, StringOwnsACopyOfItsText) {
  char buffer[] = "abc";
  auto s = str(buffer);
  Ref<RefString> t(new RefString(buffer));
  buffer[0] = 'x';
  EXPECT_STREQ(s->text(), "abc");
  EXPECT_STREQ(t->text(), "abc");
  EXPECT_NE(s->text(), buffer);
  EXPECT_EQ(str(nullptr)->text(), nullptr);
}

TEST_F(RefTest, PointerNeitherOwnsNorTouchesItsData) {
  auto p = ptr(&data_[1]);
  EXPECT_EQ(p->data(), &data_[1]);
}

// Equals and Clone of the single kinds

TEST_F(RefTest, EqualsAcrossKinds) {
  auto abc = str("abc");
  auto pointer = ptr(&data_[0]);
  auto empty = map();
  const struct {
    const char* name;
    Ref<RefObject> a;
    Ref<RefObject> b;
    bool equal;
  } cases[] = {
      {"same text", Ref<RefObject>(str("abc").release()), Ref<RefObject>(str("abc").release()),
       true},
      {"other text", Ref<RefObject>(str("abc").release()), Ref<RefObject>(str("abd").release()),
       false},
      {"longer text", Ref<RefObject>(str("abc").release()), Ref<RefObject>(str("abcd").release()),
       false},
      {"case differs", Ref<RefObject>(str("a").release()), Ref<RefObject>(str("A").release()),
       false},
      {"both empty texts", Ref<RefObject>(str("").release()), Ref<RefObject>(str("").release()),
       true},
      {"both without text", Ref<RefObject>(str(nullptr).release()),
       Ref<RefObject>(str(nullptr).release()), true},
      {"no text vs empty text", Ref<RefObject>(str(nullptr).release()),
       Ref<RefObject>(str("").release()), false},
      {"empty text vs no text", Ref<RefObject>(str("").release()),
       Ref<RefObject>(str(nullptr).release()), false},
      {"string vs pointer", Ref<RefObject>(str("abc").release()),
       Ref<RefObject>(ptr(&data_[0]).release()), false},
      {"pointers to the same data", Ref<RefObject>(ptr(&data_[0]).release()),
       Ref<RefObject>(ptr(&data_[0]).release()), false},
      {"empty maps", Ref<RefObject>(map().release()), Ref<RefObject>(map().release()), true},
      {"map vs string", Ref<RefObject>(map().release()), Ref<RefObject>(str("").release()), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a->Equals(c.b.get()), c.equal);
    EXPECT_EQ(c.b->Equals(c.a.get()), c.equal);
  }
  for (RefObject* o : {static_cast<RefObject*>(abc.get()), static_cast<RefObject*>(pointer.get()),
                       static_cast<RefObject*>(empty.get())}) {
    EXPECT_TRUE(o->Equals(o));
    EXPECT_FALSE(o->Equals(nullptr));
  }
}

TEST_F(RefTest, CloneOfStringIsANewEqualCopy) {
  for (const char* text : {"abc", "", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(text == nullptr ? "<none>" : text);
    auto s = str(text);
    Ref<RefObject> clone(s->Clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone.get(), s.get());
    EXPECT_EQ(clone->kindTag(), RefObject::kString);
    EXPECT_EQ(clone->refCount(), 1);
    EXPECT_TRUE(s->Equals(clone.get()));
    const char* copied = static_cast<RefString*>(clone.get())->text();
    if (text == nullptr) {
      EXPECT_EQ(copied, nullptr);
    } else {
      EXPECT_NE(copied, s->text());
      EXPECT_STREQ(copied, text);
    }
  }
}

TEST_F(RefTest, CloneOfPointerSharesDataButIsNotEqual) {
  auto p = ptr(&data_[2]);
  Ref<RefObject> clone(p->Clone());
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(static_cast<RefPointer*>(clone.get())->data(), &data_[2]);
  EXPECT_FALSE(p->Equals(clone.get()));
}

// Map: filing and finding

TEST_F(RefTest, PutTakesAReferenceToKeyAndValueAndDestructionGivesThemBack) {
  auto key = str("k");
  auto value = ptr(&data_[0]);
  {
    auto m = map();
    ASSERT_TRUE(m->Put(key.get(), value.get()));
    EXPECT_EQ(key->refCount(), 2);
    EXPECT_EQ(value->refCount(), 2);
    EXPECT_EQ(m->Count(), 1);
    EXPECT_EQ(m->Get(key.get()), value.get());
    EXPECT_EQ(value->refCount(), 2);  // lookups hand out no reference
  }
  EXPECT_EQ(key->refCount(), 1);
  EXPECT_EQ(value->refCount(), 1);
}

TEST_F(RefTest, PutWithEqualKeyReplacesValueInPlaceAndKeepsFirstKey) {
  auto m = map();
  auto a = str("a"), b = str("b"), c = str("c"), b2 = str("b");
  auto va = ptr(&data_[0]), vb = ptr(&data_[1]), vc = ptr(&data_[2]), vb2 = ptr(&data_[3]);
  m->Put(a.get(), va.get());
  m->Put(b.get(), vb.get());
  m->Put(c.get(), vc.get());

  ASSERT_TRUE(m->Put(b2.get(), vb2.get()));
  EXPECT_EQ(m->Count(), 3);
  EXPECT_EQ(m->KeyAt(1), b.get());
  EXPECT_EQ(m->ValueAt(1), vb2.get());
  EXPECT_EQ(m->Get(b.get()), vb2.get());
  EXPECT_EQ(b2->refCount(), 1);
  EXPECT_EQ(vb->refCount(), 1);
  EXPECT_EQ(vb2->refCount(), 2);
  EXPECT_EQ(keyTexts(*m), (Texts{"a", "b", "c"}));
}

TEST_F(RefTest, PutOfTheSameValueAgainKeepsItAlive) {
  auto m = map();
  auto k = str("k");
  RefPointer* v = new RefPointer(&data_[0]);
  m->Put(k.get(), v);
  v->Release();  // the map now holds the only reference
  ASSERT_TRUE(m->Put(k.get(), v));
  EXPECT_EQ(v->refCount(), 1);
  EXPECT_EQ(m->Get(k.get()), v);
  EXPECT_EQ(static_cast<RefPointer*>(m->Get(k.get()))->data(), &data_[0]);
}

TEST_F(RefTest, PositionsFollowFirstInsertion) {
  auto m = map();
  auto v = ptr(&data_[0]);
  for (const char* t : {"e", "a", "d", "b", "c"}) ASSERT_TRUE(m->PutText(t, v.get()));
  m->PutText("d", v.get());
  EXPECT_EQ(keyTexts(*m), (Texts{"e", "a", "d", "b", "c"}));
  EXPECT_EQ(v->refCount(), 6);
}

TEST_F(RefTest, TextKeysCompareExactly) {
  auto m = map();
  const char* texts[] = {"1", "01", "10", "a", "A", ""};
  std::vector<Ref<RefPointer>> values;
  for (const char* t : texts) {
    values.push_back(ptr(&data_[0]));
    ASSERT_TRUE(m->PutText(t, values.back().get()));
  }
  ASSERT_EQ(m->Count(), 6);
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(texts[i]);
    EXPECT_EQ(m->GetText(texts[i]), values[i].get());
  }
  EXPECT_EQ(m->GetText("001"), nullptr);
  EXPECT_EQ(m->GetText("1 "), nullptr);
  EXPECT_EQ(m->GetText(nullptr), nullptr);

  m->RemoveText("01");
  m->RemoveText("missing");
  EXPECT_EQ(keyTexts(*m), (Texts{"1", "10", "a", "A", ""}));
  EXPECT_EQ(values[1]->refCount(), 1);
}

TEST_F(RefTest, PutTextNewEntryHoldsTheOnlyKeyReference) {
  auto m = map();
  auto v = ptr(&data_[0]), w = ptr(&data_[1]);
  const int64_t before = RefObject::liveObjects();
  ASSERT_TRUE(m->PutText("7", v.get()));
  EXPECT_EQ(RefObject::liveObjects(), before + 1);
  EXPECT_EQ(m->KeyAt(0)->refCount(), 1);

  RefObject* firstKey = m->KeyAt(0);
  ASSERT_TRUE(m->PutText("7", w.get()));
  EXPECT_EQ(RefObject::liveObjects(), before + 1);  // the temporary key is gone
  EXPECT_EQ(m->KeyAt(0), firstKey);
  EXPECT_EQ(m->GetText("7"), w.get());
}

TEST_F(RefTest, KeyOfAnotherKindNeverMatches) {
  auto m = map();
  auto value = ptr(&data_[0]);
  auto pointerKey = ptr(&data_[1]);
  m->PutText("1", value.get());
  m->Put(pointerKey.get(), value.get());

  auto samePointer = ptr(&data_[1]);
  auto mapKey = map();
  EXPECT_EQ(m->Get(samePointer.get()), nullptr);
  EXPECT_EQ(m->Get(mapKey.get()), nullptr);
  EXPECT_EQ(m->Get(pointerKey.get()), value.get());
  m->Remove(samePointer.get());
  m->Remove(mapKey.get());
  EXPECT_EQ(m->Count(), 2);
  EXPECT_EQ(m->GetText("1"), value.get());
}

TEST_F(RefTest, NullKeyOrValueIsRefused) {
  auto m = map();
  auto k = str("k");
  auto v = ptr(nullptr);
  EXPECT_FALSE(m->Put(nullptr, v.get()));
  EXPECT_FALSE(m->Put(k.get(), nullptr));
  EXPECT_FALSE(m->PutText("k", nullptr));
  EXPECT_EQ(m->Count(), 0);
  EXPECT_EQ(k->refCount(), 1);
  EXPECT_EQ(v->refCount(), 1);
  EXPECT_EQ(m->Get(nullptr), nullptr);
  m->Remove(nullptr);
}

// Map: removing

TEST_F(RefTest, RemoveThenPutAppendsAfterTheRemainingEntries) {
  const struct {
    const char* removed;
    Texts after;
  } cases[] = {
      {"A", {"B", "C", "D"}},
      {"B", {"A", "C", "D"}},
      {"C", {"A", "B", "D"}},
      {"X", {"A", "B", "C", "D"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.removed);
    auto m = map();
    auto v = ptr(&data_[0]);
    for (const char* t : {"A", "B", "C"}) m->PutText(t, v.get());
    auto key = str(c.removed);
    m->Remove(key.get());
    ASSERT_TRUE(m->PutText("D", v.get()));
    EXPECT_EQ(keyTexts(*m), c.after);
    for (const std::string& t : c.after) EXPECT_EQ(m->GetText(t.c_str()), v.get());
    EXPECT_EQ(v->refCount(), 1 + m->Count());
  }
}

TEST_F(RefTest, RemoveAtEachPositionThenPutKeepsTheChainWhole) {
  const struct {
    int32_t position;
    Texts after;
  } cases[] = {
      {0, {"B", "C", "D"}},
      {1, {"A", "C", "D"}},
      {2, {"A", "B", "D"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    auto m = map();
    auto v = ptr(&data_[0]);
    for (const char* t : {"A", "B", "C"}) m->PutText(t, v.get());
    m->RemoveAt(c.position);
    ASSERT_TRUE(m->PutText("D", v.get()));
    EXPECT_EQ(keyTexts(*m), c.after);
  }
}

TEST_F(RefTest, RemovingTheOnlyEntryLeavesAnEmptyMapThatStartsAfresh) {
  auto m = map();
  auto v = ptr(&data_[0]);
  auto k = str("only");
  m->Put(k.get(), v.get());
  m->Remove(k.get());
  EXPECT_EQ(m->Count(), 0);
  EXPECT_EQ(m->KeyAt(0), nullptr);
  EXPECT_EQ(m->Get(k.get()), nullptr);
  EXPECT_EQ(k->refCount(), 1);
  EXPECT_EQ(v->refCount(), 1);

  m->PutText("next", v.get());
  m->PutText("last", v.get());
  EXPECT_EQ(keyTexts(*m), (Texts{"next", "last"}));
}

TEST_F(RefTest, PositionsOutsideTheMapDoNothing) {
  auto m = map();
  auto v = ptr(&data_[0]);
  m->RemoveAt(0);  // empty map
  m->PutText("a", v.get());
  m->PutText("b", v.get());
  for (int32_t position : {-1, 2, 3, std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<int32_t>::max()}) {
    SCOPED_TRACE(position);
    m->RemoveAt(position);
    EXPECT_EQ(m->Count(), 2);
    EXPECT_EQ(m->KeyAt(position), nullptr);
    EXPECT_EQ(m->ValueAt(position), nullptr);
  }
  EXPECT_EQ(keyTexts(*m), (Texts{"a", "b"}));
  EXPECT_EQ(m->ValueAt(1), v.get());
}

TEST_F(RefTest, RemoveAtZeroUntilEmptyGivesBackEveryReference) {
  auto m = map();
  std::vector<Ref<RefPointer>> values;
  for (int i = 1; i <= 4; ++i) {
    values.push_back(ptr(&data_[i % 4]));
    m->PutText(std::to_string(i).c_str(), values.back().get());
  }
  const int64_t before = RefObject::liveObjects();
  while (m->Count() > 0) m->RemoveAt(0);
  EXPECT_EQ(RefObject::liveObjects(), before - 4);  // the four keys
  for (const auto& v : values) EXPECT_EQ(v->refCount(), 1);
  EXPECT_EQ(m->KeyAt(0), nullptr);
  m->PutText("5", values[0].get());
  EXPECT_EQ(keyTexts(*m), (Texts{"5"}));
}

// Map: Clone and Equals

TEST_F(RefTest, CloneOfMapSharesKeysAndValues) {
  auto m = map();
  auto a = str("a"), b = str("b");
  auto va = ptr(&data_[0]), vb = ptr(&data_[1]);
  m->Put(a.get(), va.get());
  m->Put(b.get(), vb.get());
  {
    Ref<RefObject> clone(m->Clone());
    ASSERT_NE(clone, nullptr);
    auto* copy = static_cast<RefMap*>(clone.get());
    EXPECT_EQ(copy->Count(), 2);
    EXPECT_EQ(copy->KeyAt(0), a.get());
    EXPECT_EQ(copy->ValueAt(1), vb.get());
    for (RefObject* o : {static_cast<RefObject*>(a.get()), static_cast<RefObject*>(b.get()),
                         static_cast<RefObject*>(va.get()), static_cast<RefObject*>(vb.get())}) {
      EXPECT_EQ(o->refCount(), 3);
    }
    EXPECT_TRUE(m->Equals(copy));
    EXPECT_TRUE(copy->Equals(m.get()));
  }
  for (RefObject* o : {static_cast<RefObject*>(a.get()), static_cast<RefObject*>(b.get()),
                       static_cast<RefObject*>(va.get()), static_cast<RefObject*>(vb.get())}) {
    EXPECT_EQ(o->refCount(), 2);
  }
  EXPECT_EQ(m->Get(b.get()), vb.get());
  EXPECT_EQ(keyTexts(*m), (Texts{"a", "b"}));
}

TEST_F(RefTest, MapEqualsComparesPositionByPosition) {
  auto va = ptr(&data_[0]), vb = ptr(&data_[1]);
  auto otherVa = ptr(&data_[0]);
  auto build = [](std::initializer_list<std::pair<const char*, RefObject*>> pairs) {
    auto m = map();
    for (const auto& [text, value] : pairs) m->PutText(text, value);
    return m;
  };
  auto ab = build({{"a", va.get()}, {"b", vb.get()}});
  const struct {
    const char* name;
    Ref<RefMap> other;
    bool equal;
  } cases[] = {
      {"same pairs same order", build({{"a", va.get()}, {"b", vb.get()}}), true},
      {"same pairs other order", build({{"b", vb.get()}, {"a", va.get()}}), false},
      {"one pair fewer", build({{"a", va.get()}}), false},
      {"one pair more", build({{"a", va.get()}, {"b", vb.get()}, {"c", vb.get()}}), false},
      {"other key", build({{"a", va.get()}, {"B", vb.get()}}), false},
      {"other value", build({{"a", vb.get()}, {"b", vb.get()}}), false},
      {"value pointing at the same data", build({{"a", otherVa.get()}, {"b", vb.get()}}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ab->Equals(c.other.get()), c.equal);
    EXPECT_EQ(c.other->Equals(ab.get()), c.equal);
  }
}

TEST_F(RefTest, NestedMapsCompareByContent) {
  auto v = ptr(&data_[0]);
  auto inner1 = map(), inner2 = map();
  inner1->PutText("x", v.get());
  inner2->PutText("x", v.get());
  auto outer1 = map(), outer2 = map();
  outer1->PutText("m", inner1.get());
  outer2->PutText("m", inner2.get());
  EXPECT_TRUE(outer1->Equals(outer2.get()));
  inner2->PutText("y", v.get());
  EXPECT_FALSE(outer1->Equals(outer2.get()));
}

// Running out of memory

TEST_F(RefTest, FailedStringCopyGivesNullAndLeaksNothing) {
  for (int budget : {0, 1}) {
    SCOPED_TRACE(budget);
    FailNothrowAfter fail(budget);
    EXPECT_EQ(RefString::create("text"), nullptr);
  }
}

TEST_F(RefTest, PutTextFailingAtAnyAllocationLeavesMapUnchanged) {
  auto m = map();
  auto v = ptr(&data_[0]);
  m->PutText("old", v.get());
  const int64_t before = RefObject::liveObjects();
  int failures = 0;
  for (int budget = 0;; ++budget) {
    SCOPED_TRACE(budget);
    bool stored;
    {
      FailNothrowAfter fail(budget);
      stored = m->PutText("new", v.get());
    }
    if (stored) break;
    ++failures;
    EXPECT_EQ(m->Count(), 1);
    EXPECT_EQ(v->refCount(), 2);
    EXPECT_EQ(RefObject::liveObjects(), before);
    ASSERT_LT(budget, 100);
  }
  EXPECT_GE(failures, 1);
  EXPECT_EQ(keyTexts(*m), (Texts{"old", "new"}));
}

TEST_F(RefTest, PutFailingOnTheNodeLeavesMapAndCountsUnchanged) {
  auto m = map();
  auto k = str("k");
  auto v = ptr(nullptr);
  FailNothrowAfter fail(0);
  EXPECT_FALSE(m->Put(k.get(), v.get()));
  EXPECT_EQ(m->Count(), 0);
  EXPECT_EQ(m->KeyAt(0), nullptr);
  EXPECT_EQ(k->refCount(), 1);
  EXPECT_EQ(v->refCount(), 1);
}

// Closing a file must not depend on memory being available.
TEST_F(RefTest, ReplacingLookingUpAndRemovingNeedNoMemory) {
  auto m = map();
  auto v = ptr(&data_[0]), w = ptr(&data_[1]);
  auto key = str("1");
  m->PutText("1", v.get());
  m->PutText("2", v.get());
  FailNothrowAfter fail(0);
  EXPECT_TRUE(m->Put(key.get(), w.get()));
  EXPECT_EQ(m->GetText("1"), w.get());
  m->RemoveText("1");
  m->Remove(m->KeyAt(0));
  EXPECT_EQ(m->Count(), 0);
  EXPECT_EQ(v->refCount(), 1);
  EXPECT_EQ(w->refCount(), 1);
}

TEST_F(RefTest, CloneFailingAtAnyAllocationGivesNullAndKeepsCounts) {
  auto m = map();
  auto v = ptr(&data_[0]);
  for (const char* t : {"a", "b", "c"}) m->PutText(t, v.get());
  const int64_t before = RefObject::liveObjects();
  for (int budget = 0;; ++budget) {
    SCOPED_TRACE(budget);
    RefObject* clone;
    {
      FailNothrowAfter fail(budget);
      clone = m->Clone();
    }
    if (clone != nullptr) {
      EXPECT_TRUE(m->Equals(clone));
      clone->Release();
      break;
    }
    EXPECT_EQ(RefObject::liveObjects(), before);
    EXPECT_EQ(v->refCount(), 4);
    EXPECT_EQ(m->KeyAt(2)->refCount(), 1);
    ASSERT_LT(budget, 100);
  }
  EXPECT_EQ(v->refCount(), 4);
}

TEST_F(RefTest, CloneOfStringOrPointerFailsCleanly) {
  auto s = str("abc");
  auto p = ptr(nullptr);
  FailNothrowAfter fail(0);
  EXPECT_EQ(s->Clone(), nullptr);
  EXPECT_EQ(p->Clone(), nullptr);
}

}  // namespace
}  // namespace hx
