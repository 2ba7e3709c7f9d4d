#include "zip/stream/object_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kzb::zip {
namespace {

struct Item {
  explicit Item(int k, int* deaths = nullptr) : key(k), death_count(deaths) {}
  ~Item() {
    if (death_count != nullptr) ++*death_count;
  }
  int key;
  int* death_count;
};

class IntSortedList : public TSortedObjectList<Item> {
 public:
  using TSortedObjectList<Item>::TSortedObjectList;
  int Compare(const Item* a, const Item* b) const override { return a->key < b->key ? -1 : a->key > b->key ? 1 : 0; }
};

std::string ListErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EListError& e) {
    return e.what();
  }
  return "<no exception>";
}

TEST(ObjectListTest, CapacityGrowsInSmallStepsThenGeometrically) {
  TObjectList<Item> list;
  list.SetOwnsItems(false);
  std::vector<std::int64_t> capacities;
  Item item(0);
  for (int i = 0; i < 100; ++i) {
    const std::int64_t before = list.Capacity();
    list.Add(&item);
    if (list.Capacity() != before) capacities.push_back(list.Capacity());
  }
  ASSERT_GE(capacities.size(), 6u);
  EXPECT_EQ(std::vector<std::int64_t>(capacities.begin(), capacities.begin() + 6),
            (std::vector<std::int64_t>{4, 8, 16, 32, 48, 64}));
}

TEST(ObjectListTest, IndexErrorsCarryTheIndex) {
  TObjectList<Item> list;
  EXPECT_EQ(ListErrorOf([&] { list.First(); }), "List index out of bounds (0)");
  EXPECT_EQ(ListErrorOf([&] { list.Last(); }), "List index out of bounds (-1)");
  list.Add(new Item(1));
  EXPECT_EQ(ListErrorOf([&] { list.Get(1); }), "List index out of bounds (1)");
  EXPECT_EQ(ListErrorOf([&] { list.Insert(3, nullptr); }), "List index out of bounds (3)");
  EXPECT_EQ(ListErrorOf([&] { list.SetCapacity(0); }), "List index out of bounds (0)");
  EXPECT_EQ(ListErrorOf([&] { list.SetCount(-2); }), "List index out of bounds (-2)");
  EXPECT_EQ(ListErrorOf([&] { list.SetCount(TObjectList<Item>::kMaxListSize + 1); }),
            "List index out of bounds (536870911)");
}

TEST(ObjectListTest, InsertIndexOfNeighbourFirstLast) {
  TObjectList<Item> list;
  Item* a = new Item(1);
  Item* b = new Item(2);
  Item* c = new Item(3);
  list.Add(a);
  list.Add(c);
  list.Insert(1, b);
  EXPECT_EQ(list.IndexOf(b), 1);
  EXPECT_EQ(list.First(), a);
  EXPECT_EQ(list.Last(), c);
  EXPECT_EQ(list.Neighbour(nullptr, true), a);
  EXPECT_EQ(list.Neighbour(nullptr, false), c);
  EXPECT_EQ(list.Neighbour(a, true), b);
  EXPECT_EQ(list.Neighbour(a, false), nullptr);
  EXPECT_EQ(list.Neighbour(c, true), nullptr);
  Item stranger(9);
  EXPECT_EQ(list.IndexOf(&stranger), -1);
  EXPECT_EQ(ListErrorOf([&] { list.Neighbour(&stranger, true); }), "tObject Item not in item list");
}

TEST(ObjectListTest, OwnershipFreeAllClearAndDestructor) {
  int deaths = 0;
  {
    TObjectList<Item> owning;
    owning.Add(new Item(1, &deaths));
    owning.Add(new Item(2, &deaths));
  }
  EXPECT_EQ(deaths, 2);
  deaths = 0;
  Item kept1(1, &deaths), kept2(2, &deaths);
  {
    TObjectList<Item> view;
    view.SetOwnsItems(false);
    view.Add(&kept1);
    view.Add(&kept2);
    view.FreeAll();
    EXPECT_EQ(view.Count(), 0);
  }
  EXPECT_EQ(deaths, 0);
  {
    TObjectList<Item> owning;
    Item* item = new Item(3, &deaths);
    owning.Add(item);
    owning.Clear();  // forgets without freeing
    EXPECT_EQ(deaths, 0);
    delete item;
  }
  EXPECT_EQ(deaths, 1);
}

TEST(ObjectListTest, SetCountFillsWithNothingAndShrinksWithoutFreeing) {
  int deaths = 0;
  TObjectList<Item> list;
  Item* a = new Item(1, &deaths);
  list.Add(a);
  list.SetCount(3);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(2), nullptr);
  list.SetCount(0);
  EXPECT_EQ(deaths, 0);
  delete a;
}

TEST(SortedObjectListTest, AcceptPolicySearchesLeftmostAndInsertsInFront) {
  IntSortedList list(TDuplicatePolicy::kAccept);
  for (int k : {3, 1, 2, 2}) list.Add(new Item(k));
  ASSERT_EQ(list.Count(), 4);
  Item key(2);
  std::int64_t index = -1;
  EXPECT_TRUE(list.Search(&key, index));
  EXPECT_EQ(index, 1);
  Item* another = new Item(2);
  EXPECT_EQ(list.Add(another), 1);
  EXPECT_EQ(list.Get(1), another);
  Item missing(0);
  EXPECT_FALSE(list.Search(&missing, index));
  EXPECT_EQ(index, 0);
  Item big(9);
  EXPECT_FALSE(list.Search(&big, index));
  EXPECT_EQ(index, 5);
}

TEST(SortedObjectListTest, IgnorePolicyLeavesDuplicateWithCaller) {
  IntSortedList list(TDuplicatePolicy::kIgnore);
  for (int k : {5, 1, 3}) list.Add(new Item(k));
  Item duplicate(3);
  EXPECT_EQ(list.Add(&duplicate), -1);
  list.Insert(0, &duplicate);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(0)->key, 1);
  EXPECT_EQ(list.Get(2)->key, 5);
  EXPECT_EQ(list.IndexOf(&duplicate), 1);  // finds the equal key, not the same object
}

TEST(SortedObjectListTest, ErrorPolicyRaisesAndLeavesListUnchanged) {
  IntSortedList list(TDuplicatePolicy::kError);
  list.Add(new Item(1));
  list.Add(new Item(2));
  Item duplicate(2);
  EXPECT_EQ(ListErrorOf([&] { list.Add(&duplicate); }), "Duplicate Object index");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(ListErrorOf([&] { list.Put(0, &duplicate); }), "Cannot <Put> an Object in a sorted list!");
}

TEST(SortedObjectListTest, ManyRandomKeysEndSorted) {
  IntSortedList list(TDuplicatePolicy::kAccept);
  std::uint32_t x = 1;
  for (int i = 0; i < 5000; ++i) {
    x = x * 1103515245 + 12345;
    list.Add(new Item(static_cast<int>((x >> 8) % 1000)));
  }
  for (std::int64_t i = 1; i < list.Count(); ++i) ASSERT_LE(list.Get(i - 1)->key, list.Get(i)->key);
}

}  // namespace
}  // namespace kzb::zip
