#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ZorDX_memlist.h"

namespace {

// Each block carries its name, so the slots can be read back by GetData.
using List = Tlistmem<std::string>;
using Names = std::vector<std::string>;

void Add(List& list, std::initializer_list<std::string> names) {
    for (const auto& name : names) list.Add(name, std::make_unique<std::string>(name));
}

// The slots as names, "-" for an empty slot.
Names Slots(const List& list) {
    Names names;
    for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.GetData(i) ? *list.GetData(i) : "-");
    return names;
}

List Sorted(std::initializer_list<std::string> names) {
    List list;
    list.SetSorted(true);
    Add(list, names);
    return list;
}

TEST(Tlistmem, SortedModeKeepsEmptySlotsFirstAndNamesInOrder) {
    List list = Sorted({"b", "a", "c"});
    EXPECT_EQ(Slots(list), (Names{"a", "b", "c"}));
    EXPECT_EQ(list.IndexOf("c"), 2);

    list.Delete(1);
    list.Delete(0);  // an empty slot now: nothing changes
    EXPECT_EQ(Slots(list), (Names{"-", "a", "c"}));
    EXPECT_EQ(list.Free(), 1);
    EXPECT_EQ(list.IndexOf("c"), 2);
    EXPECT_EQ(list.IndexOf("b"), -1);
    EXPECT_EQ(list.FindData("b"), nullptr);
    EXPECT_EQ(list.GetData(0), nullptr);
    EXPECT_EQ(list.GetData(3), nullptr);

    List refilled = Sorted({"a", "b", "c"});
    refilled.Delete(1);
    Add(refilled, {"d"});
    EXPECT_EQ(Slots(refilled), (Names{"a", "c", "d"}));
    EXPECT_EQ(refilled.Free(), 0);

    list.Pack();
    EXPECT_EQ(Slots(list), (Names{"a", "c"}));
    EXPECT_EQ(list.Free(), 0);
    EXPECT_TRUE(list.FreeSlots().empty());
}

TEST(Tlistmem, IndexOfBisectsToTheLeftmostMatch) {
    List empty = Sorted({});
    EXPECT_EQ(empty.IndexOf("a"), -1);
    List allEmpty = Sorted({"a", "b"});
    allEmpty.Delete(0);
    allEmpty.Delete(1);
    EXPECT_EQ(allEmpty.IndexOf("a"), -1);
    List single = Sorted({"a", "b", "c"});
    single.Delete(0);
    single.Delete(2);
    EXPECT_EQ(single.IndexOf("b"), 2);
    EXPECT_EQ(single.IndexOf("a"), -1);

    // Ordinal order: capitals before small letters, a prefix first, high bytes last.
    EXPECT_EQ(Slots(Sorted({"ab", "\xff", "a", "B"})), (Names{"B", "a", "ab", "\xff"}));

    for (int copies = 2; copies <= 7; ++copies) {
        List list = Sorted({"a", "z"});
        for (int i = 0; i < copies; ++i) Add(list, {"m"});
        EXPECT_EQ(list.IndexOf("m"), 1) << copies;
    }
    for (int size = 1; size <= 40; ++size) {
        List list = Sorted({});
        for (int i = size - 1; i >= 0; --i) Add(list, {NumberName(i, 3)});
        for (int i = 0; i < size; ++i) ASSERT_EQ(list.IndexOf(NumberName(i, 3)), i) << size;
        EXPECT_EQ(list.IndexOf(NumberName(size, 3)), -1);
        EXPECT_EQ(list.IndexOf(" -1"), -1);
    }
}

TEST(Tlistmem, UnsortedModeReusesTheMostRecentlyFreedSlot) {
    List list;
    Add(list, {"c", "a", "b", "d"});
    list.Delete(1);
    list.Delete(3);
    Add(list, {"x"});
    EXPECT_EQ(Slots(list), (Names{"c", "-", "b", "x"}));
    Add(list, {"y"});
    EXPECT_EQ(Slots(list), (Names{"c", "y", "b", "x"}));
    EXPECT_EQ(list.IndexOf("b"), 2);
}

TEST(Tlistmem, SwitchingModesNeverOverwritesANode) {
    List list;
    Add(list, {"c", "a", "b"});
    list.Delete(0);
    list.SetSorted(true);
    Add(list, {"d"});
    EXPECT_EQ(Slots(list), (Names{"a", "b", "d"}));
    list.Delete(1);
    list.SetSorted(false);
    Add(list, {"e"});
    EXPECT_EQ(Slots(list), (Names{"e", "a", "d"}));
}

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
        for (const char* name : {"a", "b", "c"}) list.Add(name, std::make_unique<Counted>(live));
        list.Delete(2);
        EXPECT_EQ(live, 2);
        list.Clear();
        EXPECT_EQ(live, 0);
        EXPECT_EQ(list.Count(), 0);
        list.Add("e", std::make_unique<Counted>(live));
    }
    EXPECT_EQ(live, 0);
}

TEST(NumberName, RightJustifiesWithoutCutting) {
    const struct {
        int32_t value, width;
        const char* expected;
    } cases[] = {{7, 13, "            7"}, {-5, 13, "           -5"}, {10006, 13, "        10006"},
                 {12345, 3, "12345"},    {-2147483647 - 1, 13, "  -2147483648"}, {42, -4, "42"}};
    for (const auto& c : cases) EXPECT_EQ(NumberName(c.value, c.width), c.expected) << c.value;
}

}  // namespace
