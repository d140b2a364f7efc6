#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ZorDX_memlist.h"

namespace {

// The blocks carry their own name, so a slot's content can be read back
// through GetData.
struct Block {
    std::string tag;
};

using List = Tlistmem<Block>;

void AddNamed(List& list, const std::string& name) { list.Add(name, std::make_unique<Block>(Block{name})); }

// The slots as names, "-" for an empty slot.
std::vector<std::string> Slots(const List& list) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const Block* block = list.GetData(i);
        names.push_back(block ? block->tag : "-");
    }
    return names;
}

List SortedList(std::initializer_list<std::string> names) {
    List list;
    list.SetSorted(true);
    for (const auto& name : names) AddNamed(list, name);
    return list;
}

using Names = std::vector<std::string>;

TEST(Tlistmem, StartsEmptyAndUnsorted) {
    List list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Free(), 0);
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.GetData(0), nullptr);
    EXPECT_EQ(list.GetData(-1), nullptr);
}

TEST(Tlistmem, SortedAddOrdersByName) {
    List list = SortedList({"b", "a", "c"});
    EXPECT_EQ(Slots(list), (Names{"a", "b", "c"}));
    EXPECT_EQ(list.IndexOf("a"), 0);
    EXPECT_EQ(list.IndexOf("b"), 1);
    EXPECT_EQ(list.IndexOf("c"), 2);
    EXPECT_EQ(list.IndexOf("d"), -1);
    EXPECT_EQ(list.IndexOf(""), -1);
}

TEST(Tlistmem, OrderIsOrdinalWithPrefixesFirst) {
    List list = SortedList({"ab", "B", "a", "\xff", "A", "abc"});
    EXPECT_EQ(Slots(list), (Names{"A", "B", "a", "ab", "abc", "\xff"}));
    for (int32_t i = 0; i < list.Count(); ++i) EXPECT_EQ(list.IndexOf(list.GetData(i)->tag), i);
}

TEST(Tlistmem, SortedDeleteMovesTheEmptySlotToTheFront) {
    List list = SortedList({"a", "b", "c"});
    list.Delete(1);
    EXPECT_EQ(Slots(list), (Names{"-", "a", "c"}));
    EXPECT_EQ(list.Free(), 1);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("a"), 1);
    EXPECT_EQ(list.IndexOf("c"), 2);
    EXPECT_EQ(list.IndexOf("b"), -1);
    EXPECT_EQ(list.GetData(0), nullptr);
    EXPECT_EQ(list.FindData("b"), nullptr);
    EXPECT_EQ(list.FindData("c")->tag, "c");
}

TEST(Tlistmem, PackRemovesEmptySlots) {
    List list = SortedList({"a", "b", "c"});
    list.Delete(1);
    list.Pack();
    EXPECT_EQ(Slots(list), (Names{"a", "c"}));
    EXPECT_EQ(list.Free(), 0);
    EXPECT_TRUE(list.FreeSlots().empty());
    EXPECT_EQ(list.IndexOf("c"), 1);
}

TEST(Tlistmem, SortedAddReusesAnEmptySlot) {
    List list = SortedList({"a", "b", "c"});
    list.Delete(1);
    AddNamed(list, "d");
    EXPECT_EQ(Slots(list), (Names{"a", "c", "d"}));
    EXPECT_EQ(list.Free(), 0);
    EXPECT_EQ(list.IndexOf("d"), 2);
}

TEST(Tlistmem, SortedAddsAndDeletesKeepEmptySlotsInFront) {
    List list = SortedList({"e", "d", "c", "b", "a"});
    list.Delete(4);
    list.Delete(1);
    EXPECT_EQ(Slots(list), (Names{"-", "-", "b", "c", "d"}));
    EXPECT_EQ(list.Free(), 2);
    AddNamed(list, "z");
    AddNamed(list, "0");
    AddNamed(list, "m");
    EXPECT_EQ(Slots(list), (Names{"0", "b", "c", "d", "m", "z"}));
    EXPECT_EQ(list.Free(), 0);
}

TEST(Tlistmem, IndexOfOnEmptyListsAndSingleNodes) {
    List empty;
    empty.SetSorted(true);
    EXPECT_EQ(empty.IndexOf("a"), -1);

    List allEmpty = SortedList({"a", "b"});
    allEmpty.Delete(0);
    allEmpty.Delete(1);
    EXPECT_EQ(allEmpty.Count(), 2);
    EXPECT_EQ(allEmpty.IndexOf("a"), -1);
    EXPECT_EQ(allEmpty.IndexOf(""), -1);

    List single = SortedList({"a", "b", "c"});
    single.Delete(0);
    single.Delete(2);
    EXPECT_EQ(Slots(single), (Names{"-", "-", "b"}));
    EXPECT_EQ(single.IndexOf("b"), 2);
    EXPECT_EQ(single.IndexOf("a"), -1);
}

TEST(Tlistmem, IndexOfFindsTheLeftmostDuplicate) {
    for (int copies = 2; copies <= 7; ++copies) {
        List list;
        list.SetSorted(true);
        AddNamed(list, "a");
        AddNamed(list, "z");
        for (int i = 0; i < copies; ++i) AddNamed(list, "m");
        EXPECT_EQ(list.IndexOf("m"), 1) << copies << " copies";
    }
    List front = SortedList({"k", "k", "k"});
    EXPECT_EQ(front.IndexOf("k"), 0);
}

TEST(Tlistmem, IndexOfFindsEveryNameOfLongerLists) {
    for (int size = 1; size <= 40; ++size) {
        List list;
        list.SetSorted(true);
        for (int i = size - 1; i >= 0; --i) AddNamed(list, NumberName(i, 3));
        for (int i = 0; i < size; ++i) ASSERT_EQ(list.IndexOf(NumberName(i, 3)), i) << size;
        EXPECT_EQ(list.IndexOf(NumberName(size, 3)), -1);
        EXPECT_EQ(list.IndexOf("  -1"), -1);
    }
}

TEST(Tlistmem, DeleteOfAnEmptySlotOrOutsideChangesNothing) {
    List list = SortedList({"a", "b"});
    list.Delete(0);
    list.Delete(0);
    list.Delete(-1);
    list.Delete(2);
    EXPECT_EQ(list.Free(), 1);
    EXPECT_EQ(list.FreeSlots().size(), 1u);
    EXPECT_EQ(Slots(list), (Names{"-", "b"}));
}

TEST(Tlistmem, UnsortedModeReusesTheMostRecentlyFreedSlot) {
    List list;
    for (const char* name : {"c", "a", "b", "d"}) AddNamed(list, name);
    list.Delete(1);
    list.Delete(3);
    EXPECT_EQ(list.FreeSlots(), (std::vector<int32_t>{1, 3}));
    AddNamed(list, "x");
    EXPECT_EQ(Slots(list), (Names{"c", "-", "b", "x"}));
    AddNamed(list, "y");
    EXPECT_EQ(Slots(list), (Names{"c", "y", "b", "x"}));
    EXPECT_EQ(list.Free(), 0);
    EXPECT_EQ(list.IndexOf("b"), 2);
    EXPECT_EQ(list.IndexOf("q"), -1);
}

TEST(Tlistmem, SwitchingSortedModeKeepsEverySlotUsable) {
    List list;
    for (const char* name : {"c", "a", "b"}) AddNamed(list, name);
    list.Delete(0);
    list.SetSorted(true);
    EXPECT_EQ(Slots(list), (Names{"-", "a", "b"}));
    AddNamed(list, "d");
    EXPECT_EQ(Slots(list), (Names{"a", "b", "d"}));

    list.Delete(1);
    list.SetSorted(false);
    AddNamed(list, "e");
    EXPECT_EQ(Slots(list), (Names{"e", "a", "d"}));
}

// Counts live blocks so that release by Delete, Clear and destruction shows.
struct Counted {
    explicit Counted(int& live) : live_(live) { ++live_; }
    ~Counted() { --live_; }
    int& live_;
};

TEST(Tlistmem, ReleasesBlocksOnDeleteClearAndDestruction) {
    int live = 0;
    {
        Tlistmem<Counted> list;
        list.SetSorted(true);
        for (const char* name : {"a", "b", "c", "d"}) list.Add(name, std::make_unique<Counted>(live));
        EXPECT_EQ(live, 4);
        list.Delete(2);
        EXPECT_EQ(live, 3);
        list.Clear();
        EXPECT_EQ(live, 0);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(list.Free(), 0);
        list.Add("e", std::make_unique<Counted>(live));
    }
    EXPECT_EQ(live, 0);
}

TEST(NumberName, RightJustifiesWithoutCutting) {
    const struct {
        int32_t value, width;
        const char* expected;
    } cases[] = {
        {7, 13, "            7"},
        {-5, 13, "           -5"},
        {10006, 13, "        10006"},
        {0, 1, "0"},
        {12345, 3, "12345"},
        {-2147483647 - 1, 13, "  -2147483648"},
        {42, 0, "42"},
        {42, -4, "42"},
    };
    for (const auto& c : cases) EXPECT_EQ(NumberName(c.value, c.width), c.expected) << c.value;
}

}  // namespace
