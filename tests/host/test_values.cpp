// Host values and lists as a module reaches them: through the value and
// list interfaces, with every reference counted.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/host_fixture.h"
#include "hx_ids.h"

namespace {

using hx::host::kTypeInvalid;
using hx::host::kTypeObject;
using hx::host::kVoidValue;
using hx::test::HostTest;

class ValueTest : public HostTest {
 protected:
  HxValueInterface* vi() { return host.values(); }
  HxListInterface* li() { return host.lists(); }
  const HxValueInterfaceVtbl& v() { return *host.values()->vtbl; }
  const HxListInterfaceVtbl& l() { return *host.lists()->vtbl; }

  int32_t typeThroughInterface(const HxValue& value) {
    int32_t type = -99;
    EXPECT_EQ(v().ValueType(vi(), &value, &type), HX_OK);
    return type;
  }
};

struct MakeCase {
  const char* name;
  int32_t type;
  std::function<HxStatus(HxValueInterface*, HxListInterface*, HxValue*)> make;
};

TEST_F(ValueTest, EveryKindIsCountedFromMakeUntilRelease) {
  const MakeCase cases[] = {
      {"integer", HX_TYPE_INTEGER,
       [](HxValueInterface* vi, HxListInterface*, HxValue* out) {
         return vi->vtbl->IntegerToValue(vi, -7, out);
       }},
      {"float", HX_TYPE_FLOAT,
       [](HxValueInterface* vi, HxListInterface*, HxValue* out) {
         return vi->vtbl->FloatToValue(vi, 0.25, out);
       }},
      {"string", HX_TYPE_STRING,
       [](HxValueInterface* vi, HxListInterface*, HxValue* out) {
         return vi->vtbl->StringToValue(vi, "abc", out);
       }},
      {"empty string", HX_TYPE_STRING,
       [](HxValueInterface* vi, HxListInterface*, HxValue* out) {
         return vi->vtbl->StringToValue(vi, "", out);
       }},
      {"list", HX_TYPE_LIST,
       [](HxValueInterface*, HxListInterface* li, HxValue* out) {
         return li->vtbl->NewList(li, out);
       }},
  };
  for (const MakeCase& c : cases) {
    SCOPED_TRACE(c.name);
    HxValue value = kVoidValue;
    ASSERT_EQ(c.make(vi(), li(), &value), HX_OK);
    EXPECT_EQ(host.liveValues(), 1);
    EXPECT_TRUE(host.isLive(value));
    EXPECT_EQ(typeThroughInterface(value), c.type);
    EXPECT_EQ(v().ValueRelease(vi(), &value), HX_OK);
    EXPECT_EQ(host.liveValues(), 0);
    EXPECT_FALSE(host.isLive(value));
  }
}

// A module reads texts up to their first NUL: "/tmp/a.wav<NUL>.txt" would
// open /tmp/a.wav.
TEST_F(ValueTest, StringWithAnEmbeddedNulIsRefused) {
  using namespace std::string_view_literals;
  HxValue s = host.makeString("/tmp/a.wav\0.txt"sv);
  EXPECT_EQ(host.typeOf(s), HX_TYPE_VOID);
  EXPECT_EQ(host.liveValues(), 0);
  expectProtocolErrors(1);
  HxValue whole = host.makeString("/tmp/a.wav.txt");
  EXPECT_EQ(host.stringOf(whole), "/tmp/a.wav.txt");
  host.release(whole);
}

TEST_F(ValueTest, ConversionsReturnWhatWasStored) {
  HxValue n = host.makeInteger(-2147483647 - 1);
  HxValue x = host.makeFloat(-1.5e300);
  HxValue s = host.makeString("h\xC3\xA9llo");
  int32_t i = 0;
  double d = 0;
  char buf[16];
  EXPECT_EQ(v().ValueToInteger(vi(), &n, &i), HX_OK);
  EXPECT_EQ(i, -2147483647 - 1);
  EXPECT_EQ(v().ValueToFloat(vi(), &x, &d), HX_OK);
  EXPECT_EQ(d, -1.5e300);
  // An integer read as a float is converted exactly.
  EXPECT_EQ(v().ValueToFloat(vi(), &n, &d), HX_OK);
  EXPECT_EQ(d, -2147483648.0);
  EXPECT_EQ(v().ValueToString(vi(), &s, buf, sizeof buf), HX_OK);
  EXPECT_STREQ(buf, "h\xC3\xA9llo");
  host.release(n);
  host.release(x);
  host.release(s);
}

TEST_F(ValueTest, AddRefKeepsTheValueUntilTheLastRelease) {
  HxValue s = host.makeString("kept");
  ASSERT_EQ(v().ValueAddRef(vi(), &s), HX_OK);
  ASSERT_EQ(v().ValueAddRef(vi(), &s), HX_OK);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(v().ValueRelease(vi(), &s), HX_OK);
    EXPECT_EQ(host.stringOf(s), "kept");
  }
  EXPECT_EQ(host.liveValues(), 1);
  ASSERT_EQ(v().ValueRelease(vi(), &s), HX_OK);
  EXPECT_EQ(host.liveValues(), 0);
}

TEST_F(ValueTest, ListKeepsItsOwnReferenceToAnAppendedValue) {
  HxValue list = kVoidValue;
  HxValue x = kVoidValue;
  ASSERT_EQ(l().NewList(li(), &list), HX_OK);
  // The order a module keeps for list results: temporary, append, release.
  for (double d : {0.5, 1.5}) {
    ASSERT_EQ(v().FloatToValue(vi(), d, &x), HX_OK);
    ASSERT_EQ(l().AppendToList(li(), &list, &x), HX_OK);
    ASSERT_EQ(v().ValueRelease(vi(), &x), HX_OK);
  }
  EXPECT_EQ(host.liveValues(), 3);
  int32_t count = 0;
  ASSERT_EQ(l().CountElements(li(), &list, &count), HX_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(host.format(list), "[0.5, 1.5]");
  host.release(list);
  EXPECT_EQ(host.liveValues(), 0);
}

// Long result lists one after another: cells past the first block of
// cells, slots kept from a freed list for the next one, and strings reused.
TEST_F(ValueTest, ListAfterALongOneStartsEmptyAndHoldsItsOwnValues) {
  constexpr int kLong = 200000;  // more cells than one block holds
  HxValue x = kVoidValue;
  for (int round = 0; round < 2; ++round) {
    HxValue list = kVoidValue;
    ASSERT_EQ(l().NewList(li(), &list), HX_OK);
    int32_t count = -1;
    ASSERT_EQ(l().CountElements(li(), &list, &count), HX_OK);
    ASSERT_EQ(count, 0) << "round " << round;
    for (int i = 0; i < kLong; ++i) {
      ASSERT_EQ(v().FloatToValue(vi(), i + 0.25 * round, &x), HX_OK);
      ASSERT_EQ(l().AppendToList(li(), &list, &x), HX_OK);
      ASSERT_EQ(v().ValueRelease(vi(), &x), HX_OK);
    }
    EXPECT_EQ(host.liveValues(), kLong + 1);
    const std::vector<HxValue> items = host.elementsOf(list);
    ASSERT_EQ(items.size(), static_cast<size_t>(kLong));
    for (int i : {0, 65535, 65536, kLong - 1})
      EXPECT_EQ(host.floatOf(items[i]), i + 0.25 * round) << "round " << round << " item " << i;
    host.release(list);
    EXPECT_EQ(host.liveValues(), 0);
    EXPECT_FALSE(host.isLive(items[0])) << "an element outlived its list";
  }
  HxValue a = host.makeString("first");
  host.release(a);
  HxValue b = host.makeString("second");
  EXPECT_EQ(host.stringOf(b), "second");
  EXPECT_FALSE(host.isLive(a));
  host.release(b);
}

TEST_F(ValueTest, ValueInTwoListsLivesUntilBothAreGone) {
  HxValue a = host.makeList();
  HxValue b = host.makeList();
  HxValue s = host.makeString("shared");
  host.append(a, s);
  host.append(b, s);
  host.release(s);
  host.release(a);
  ASSERT_EQ(host.elementsOf(b).size(), 1u);
  EXPECT_EQ(host.stringOf(host.elementsOf(b)[0]), "shared");
  host.release(b);
}

TEST_F(ValueTest, ReleasingTheOuterListFreesNestedLists) {
  HxValue outer = host.makeList();
  HxValue inner = host.makeList();
  HxValue innermost = host.makeList();
  HxValue n = host.makeInteger(3);
  host.append(innermost, n);
  host.append(inner, innermost);
  host.append(outer, inner);
  host.release(n);
  host.release(innermost);
  host.release(inner);
  EXPECT_EQ(host.liveValues(), 4);
  EXPECT_EQ(host.format(outer), "[[[3]]]");
  host.release(outer);
  EXPECT_EQ(host.liveValues(), 0);
}

TEST_F(ValueTest, DeeplyNestedListIsFreedAndPrintedWithoutExhaustingTheStack) {
  HxValue outer = host.makeList();
  for (int i = 0; i < 100000; ++i) {
    HxValue wrapper = host.makeList();
    host.append(wrapper, outer);
    host.release(outer);
    outer = wrapper;
  }
  EXPECT_EQ(host.format(outer).substr(0, 4), "[[[[");
  host.release(outer);
  EXPECT_EQ(host.liveValues(), 0);
}

TEST_F(ValueTest, GetValueByIndexHandsOutANewReference) {
  HxValue list = host.makeList();
  HxValue n = host.makeInteger(11);
  host.append(list, n);
  host.release(n);
  HxValue got = kVoidValue;
  ASSERT_EQ(l().GetValueByIndex(li(), &list, 0, &got), HX_OK);
  host.release(list);
  EXPECT_EQ(host.integerOf(got), 11);  // still ours after the list is gone
  host.release(got);
}

TEST_F(ValueTest, VoidElementsAreKeptAndNotCounted) {
  HxValue list = host.makeList();
  host.append(list, kVoidValue);
  EXPECT_EQ(host.liveValues(), 1);
  EXPECT_EQ(host.format(list), "[<void>]");
  HxValue got = host.makeInteger(1);
  HxValue before = got;
  ASSERT_EQ(l().GetValueByIndex(li(), &list, 0, &got), HX_OK);
  EXPECT_EQ(host.typeOf(got), HX_TYPE_VOID);
  host.release(before);
  host.release(list);
}

// ValueToString writes at most size bytes, the terminator included.
TEST_F(ValueTest, ValueToStringTruncatesAtSize) {
  struct Case {
    int32_t size;
    const char* expected;
  };
  const Case cases[] = {{1, ""}, {2, "h"}, {5, "hell"}, {6, "hello"}, {7, "hello"}, {64, "hello"}};
  HxValue s = host.makeString("hello");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    char buf[80];
    std::memset(buf, 'X', sizeof buf);
    ASSERT_EQ(v().ValueToString(vi(), &s, buf, c.size), HX_OK);
    EXPECT_STREQ(buf, c.expected);
    for (int i = c.size; i < static_cast<int>(sizeof buf); ++i) ASSERT_EQ(buf[i], 'X') << i;
  }
  host.release(s);
}

TEST_F(ValueTest, ValueToStringWithNoRoomWritesNothingAndFails) {
  HxValue s = host.makeString("hello");
  for (int32_t size : {0, -1, -2147483647 - 1}) {
    SCOPED_TRACE(size);
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_NE(v().ValueToString(vi(), &s, buf, size), HX_OK);
    EXPECT_EQ(std::string(buf, 4), "XXXX");
  }
  expectProtocolErrors(3);
  host.release(s);
}

// A wrong type is refused, leaves the output alone and is counted.
TEST_F(ValueTest, WrongTypesFailWithoutTouchingTheOutput) {
  HxValue n = host.makeInteger(1);
  HxValue x = host.makeFloat(2.0);
  HxValue s = host.makeString("3");
  HxValue list = host.makeList();
  HxValue me = host.makeObject();
  HxValue nothing = kVoidValue;
  struct Case {
    const char* name;
    std::function<HxStatus()> op;
  };
  int32_t i = 42;
  double d = 42.0;
  char buf[8] = "keep";
  int32_t count = 42;
  const Case cases[] = {
      {"float as integer", [&] { return v().ValueToInteger(vi(), &x, &i); }},
      {"string as integer", [&] { return v().ValueToInteger(vi(), &s, &i); }},
      {"void as integer", [&] { return v().ValueToInteger(vi(), &nothing, &i); }},
      {"object as integer", [&] { return v().ValueToInteger(vi(), &me, &i); }},
      {"string as float", [&] { return v().ValueToFloat(vi(), &s, &d); }},
      {"list as float", [&] { return v().ValueToFloat(vi(), &list, &d); }},
      {"integer as string", [&] { return v().ValueToString(vi(), &n, buf, sizeof buf); }},
      {"void as string", [&] { return v().ValueToString(vi(), &nothing, buf, sizeof buf); }},
      {"count of an integer", [&] { return l().CountElements(li(), &n, &count); }},
      {"append to a string", [&] { return l().AppendToList(li(), &s, &n); }},
      {"append to void", [&] { return l().AppendToList(li(), &nothing, &n); }},
  };
  int64_t errors = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.op(), HX_E_WRONG_TYPE);
    EXPECT_EQ(host.protocolErrors(), ++errors);
  }
  EXPECT_EQ(i, 42);
  EXPECT_EQ(d, 42.0);
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(count, 42);
  EXPECT_EQ(host.liveValues(), 5);  // nothing was appended
  expectProtocolErrors(errors);
  for (HxValue* value : {&n, &x, &s, &list, &me}) host.release(*value);
}

TEST_F(ValueTest, StaleValueIsDetectedAfterItsCellIsReused) {
  HxValue old = host.makeString("old");
  HxValue copy = old;
  host.release(old);
  HxValue fresh = host.makeInteger(5);  // takes the freed cell
  ASSERT_EQ(fresh.lo, copy.lo);
  int32_t type = -99;
  int32_t n = -99;
  EXPECT_EQ(v().ValueType(vi(), &copy, &type), HX_E_INVALID_ARG);
  EXPECT_EQ(v().ValueToInteger(vi(), &copy, &n), HX_E_INVALID_ARG);
  EXPECT_EQ(v().ValueAddRef(vi(), &copy), HX_E_INVALID_ARG);
  EXPECT_EQ(v().ValueRelease(vi(), &copy), HX_E_INVALID_ARG);
  EXPECT_EQ(type, -99);
  EXPECT_EQ(n, -99);
  EXPECT_EQ(host.typeOf(copy), kTypeInvalid);
  EXPECT_EQ(host.format(copy), "<invalid>");
  // The value now in the cell is untouched by the misuse.
  EXPECT_EQ(host.integerOf(fresh), 5);
  EXPECT_EQ(host.liveValues(), 1);
  expectProtocolErrors(4);
  host.release(fresh);
}

// The host remembers the list last appended to; that must not let a
// stale copy of it through once it is gone, whether or not a new list has
// taken its cell.
TEST_F(ValueTest, AppendToAListGoneSinceTheLastAppendIsRefused) {
  for (bool reuseCell : {false, true}) {
    SCOPED_TRACE(reuseCell ? "cell reused by a new list" : "cell left free");
    HxValue list = host.makeList();
    HxValue n = host.makeFloat(0.5);
    ASSERT_EQ(l().AppendToList(li(), &list, &n), HX_OK);
    HxValue stale = list;
    host.release(list);
    HxValue fresh = reuseCell ? host.makeList() : kVoidValue;
    if (reuseCell) {
      ASSERT_EQ(fresh.lo, stale.lo);
    }
    const int64_t errors = host.protocolErrors();
    EXPECT_EQ(l().AppendToList(li(), &stale, &n), HX_E_INVALID_ARG);
    EXPECT_EQ(host.protocolErrors(), errors + 1);
    if (reuseCell) {
      EXPECT_TRUE(host.elementsOf(fresh).empty());
    }
    // n holds only its own reference: one release frees it.
    host.release(n);
    EXPECT_EQ(host.liveValues(), reuseCell ? 1 : 0);
    if (reuseCell) host.release(fresh);
  }
  expectProtocolErrors(2);
}

// The number made last has a shortcut to its cell; a stale copy of it
// must still be refused, before and after a new number takes the cell.
TEST_F(ValueTest, StaleCopyOfTheNumberMadeLastIsRefused) {
  HxValue list = host.makeList();
  HxValue first{0, 0};
  ASSERT_EQ(v().FloatToValue(vi(), 0.125, &first), HX_OK);
  ASSERT_EQ(l().AppendToList(li(), &list, &first), HX_OK);  // list now the one appended to
  ASSERT_EQ(v().ValueRelease(vi(), &first), HX_OK);
  HxValue x{0, 0};
  ASSERT_EQ(v().FloatToValue(vi(), 0.25, &x), HX_OK);
  HxValue stale = x;
  ASSERT_EQ(v().ValueRelease(vi(), &x), HX_OK);
  EXPECT_EQ(l().AppendToList(li(), &list, &stale), HX_E_INVALID_ARG);
  EXPECT_EQ(v().ValueRelease(vi(), &stale), HX_E_INVALID_ARG);
  HxValue y{0, 0};
  ASSERT_EQ(v().FloatToValue(vi(), 0.5, &y), HX_OK);
  ASSERT_EQ(y.lo, stale.lo);  // the freed cell, a new generation
  ASSERT_EQ(l().AppendToList(li(), &list, &y), HX_OK);
  EXPECT_EQ(v().ValueRelease(vi(), &stale), HX_E_INVALID_ARG);
  EXPECT_EQ(l().AppendToList(li(), &list, &stale), HX_E_INVALID_ARG);
  ASSERT_EQ(v().ValueRelease(vi(), &y), HX_OK);
  EXPECT_EQ(host.format(list), "[0.125, 0.5]");
  EXPECT_EQ(host.liveValues(), 3);  // the list and the two numbers it holds
  expectProtocolErrors(4);
  host.release(list);
}

// Once the number made last is freed, by its own release or with the list
// that held it, its shortcut must be gone: a list that takes the freed cell
// must not lose a reference to a stale copy of the number.
TEST_F(ValueTest, StaleNumberMadeLastCannotReachTheListInItsCell) {
  // Free cells first: the shortcut is taken when a number reuses one.
  HxValue spare[4];
  for (HxValue& x : spare) x = host.makeFloat(1.0);
  for (HxValue& x : spare) host.release(x);
  for (bool freedWithList : {false, true}) {
    SCOPED_TRACE(freedWithList ? "freed with the list holding it" : "freed by its release");
    HxValue holder = freedWithList ? host.makeList() : kVoidValue;
    HxValue x{0, 0};
    ASSERT_EQ(v().FloatToValue(vi(), 0.75, &x), HX_OK);
    const HxValue stale = x;
    if (freedWithList) {
      ASSERT_EQ(l().AppendToList(li(), &holder, &x), HX_OK);
      ASSERT_EQ(v().ValueRelease(vi(), &x), HX_OK);
      host.release(holder);
    } else {
      ASSERT_EQ(v().ValueRelease(vi(), &x), HX_OK);
    }
    HxValue list = host.makeList();
    ASSERT_EQ(list.lo, stale.lo);  // the number's cell
    ASSERT_EQ(v().ValueAddRef(vi(), &list), HX_OK);
    const int64_t errors = host.protocolErrors();
    HxValue copy = stale;
    EXPECT_EQ(v().ValueRelease(vi(), &copy), HX_E_INVALID_ARG);
    EXPECT_EQ(host.protocolErrors(), errors + 1);
    // Both of the list's references are still there.
    EXPECT_EQ(v().ValueRelease(vi(), &list), HX_OK);
    EXPECT_EQ(host.typeOf(list), HX_TYPE_LIST);
    host.release(list);
    EXPECT_EQ(host.liveValues(), 0);
  }
  expectProtocolErrors(2);
}

TEST_F(ValueTest, DoubleReleaseIsCountedNotFreedTwice) {
  HxValue a = host.makeFloat(1.0);
  HxValue b = host.makeFloat(2.0);
  HxValue keep = a;
  ASSERT_EQ(v().ValueRelease(vi(), &a), HX_OK);
  EXPECT_EQ(a.lo, keep.lo);  // the interface leaves the caller's copy alone
  EXPECT_EQ(v().ValueRelease(vi(), &a), HX_E_INVALID_ARG);
  EXPECT_EQ(host.liveValues(), 1);
  EXPECT_EQ(host.floatOf(b), 2.0);
  expectProtocolErrors(1);
  host.release(b);
}

TEST_F(ValueTest, ForgedValuesAreRejected) {
  const HxValue forged[] = {{1, 0}, {0, 1}, {12345, 1}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
  for (const HxValue& value : forged) {
    SCOPED_TRACE(testing::Message() << value.lo << "/" << value.hi);
    int32_t type = -99;
    EXPECT_EQ(v().ValueType(vi(), &value, &type), HX_E_INVALID_ARG);
    EXPECT_EQ(type, -99);
  }
  expectProtocolErrors(4);
}

TEST_F(ValueTest, NullPointersAreRefused) {
  HxValue n = host.makeInteger(1);
  HxValue list = host.makeList();
  int32_t type = 0;
  const std::function<HxStatus()> ops[] = {
      [&] { return v().ValueType(vi(), nullptr, &type); },
      [&] { return v().ValueType(vi(), &n, nullptr); },
      [&] { return v().ValueToString(vi(), &n, nullptr, 4); },
      [&] { return v().IntegerToValue(vi(), 1, nullptr); },
      [&] { return v().StringToValue(vi(), nullptr, &n); },
      [&] { return v().ValueRelease(vi(), nullptr); },
      [&] { return l().NewList(li(), nullptr); },
      [&] { return l().AppendToList(li(), &list, nullptr); },
      [&] { return l().GetValueByIndex(li(), &list, 0, nullptr); },
  };
  for (const auto& op : ops) EXPECT_EQ(op(), HX_E_INVALID_ARG);
  expectProtocolErrors(9);
  EXPECT_EQ(host.liveValues(), 2);
  host.release(n);
  host.release(list);
}

TEST_F(ValueTest, ListCannotBePutInsideItself) {
  HxValue a = host.makeList();
  HxValue b = host.makeList();
  EXPECT_EQ(l().AppendToList(li(), &a, &a), HX_E_INVALID_ARG);
  ASSERT_EQ(l().AppendToList(li(), &a, &b), HX_OK);
  EXPECT_EQ(l().AppendToList(li(), &b, &a), HX_E_INVALID_ARG);
  expectProtocolErrors(2);
  host.release(b);
  host.release(a);
}

TEST_F(ValueTest, IndexOutsideTheListIsRefused) {
  HxValue list = host.makeList();
  HxValue n = host.makeInteger(1);
  host.append(list, n);
  for (int32_t index : {-1, 1, 2147483647}) {
    HxValue out = kVoidValue;
    EXPECT_EQ(l().GetValueByIndex(li(), &list, index, &out), HX_E_INVALID_ARG);
    EXPECT_EQ(out.lo, 0u);
  }
  expectProtocolErrors(3);
  host.release(n);
  host.release(list);
}

TEST_F(ValueTest, VoidNeedsNoReleaseAndReportsTypeZero) {
  HxValue nothing = kVoidValue;
  EXPECT_EQ(typeThroughInterface(nothing), HX_TYPE_VOID);
  EXPECT_EQ(v().ValueAddRef(vi(), &nothing), HX_OK);
  EXPECT_EQ(v().ValueRelease(vi(), &nothing), HX_OK);
  EXPECT_EQ(host.liveValues(), 0);
}

TEST_F(ValueTest, ObjectValueHasItsOwnTypeCode) {
  HxValue me = host.makeObject();
  EXPECT_EQ(typeThroughInterface(me), kTypeObject);
  EXPECT_EQ(host.liveValues(), 1);
  host.release(me);
}

TEST_F(ValueTest, CallbackHandsOutValueAndListInterfacesWithAReference) {
  static const HxGuid kValues = HX_IID_VALUE_INTERFACE;
  static const HxGuid kLists = HX_IID_LIST_INTERFACE;
  static const HxGuid kScript = HX_IID_SCRIPT;
  HxCallback* cb = host.callback();
  void* values = nullptr;
  void* lists = nullptr;
  void* other = reinterpret_cast<void*>(1);
  ASSERT_EQ(cb->vtbl->QueryInterface(cb, &kValues, &values), HX_OK);
  ASSERT_EQ(cb->vtbl->QueryInterface(cb, &kLists, &lists), HX_OK);
  EXPECT_EQ(cb->vtbl->QueryInterface(cb, &kScript, &other), HX_E_NO_INTERFACE);
  EXPECT_EQ(values, host.values());
  EXPECT_EQ(lists, host.lists());
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(host.interfaceReferences(), 2);
  host.values()->vtbl->Release(host.values());
  host.lists()->vtbl->Release(host.lists());
  EXPECT_EQ(host.interfaceReferences(), 0);
}

TEST_F(ValueTest, ReleaseOfAnInterfaceWithoutAReferenceIsCounted) {
  EXPECT_EQ(host.values()->vtbl->Release(host.values()), 0u);
  EXPECT_EQ(host.interfaceReferences(), 0);
  expectProtocolErrors(1);
}

TEST_F(ValueTest, FormatShowsEachKindAsAConsoleWould) {
  struct Case {
    HxValue value;
    const char* expected;
  };
  HxValue nested = host.makeList();
  HxValue inner = host.makeList();
  HxValue parts[] = {host.makeInteger(1), host.makeFloat(2.5), host.makeString("x")};
  for (HxValue& p : parts) host.append(inner, p);
  host.append(nested, inner);
  host.append(nested, kVoidValue);
  const Case cases[] = {
      {host.makeInteger(42), "42"},
      {host.makeInteger(-2147483647 - 1), "-2147483648"},
      {host.makeFloat(0.5), "0.5"},
      {host.makeFloat(1.0), "1"},
      {host.makeFloat(static_cast<float>(0.1)), "0.100000001"},
      {host.makeFloat(-1e-10), "-1e-10"},
      {host.makeString("text"), "\"text\""},
      {host.makeString(""), "\"\""},
      {host.makeString("a\"b\\c\nd\te"), "\"a\\\"b\\\\c\\nd\\te\""},
      {host.makeList(), "[]"},
      {host.makeObject(), "<object>"},
      {kVoidValue, "<void>"},
  };
  for (Case c : cases) {
    EXPECT_EQ(host.format(c.value), c.expected);
    host.release(c.value);
  }
  EXPECT_EQ(host.format(nested), "[[1, 2.5, \"x\"], <void>]");
  for (HxValue& p : parts) host.release(p);
  host.release(inner);
  host.release(nested);
}

}  // namespace
