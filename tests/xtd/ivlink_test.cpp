#include "xtd/ivlink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item : xtd::ivlink<Item, 0>, xtd::ivlink<Item, 1> {
  explicit Item(int v) : value(v) {}
  int value;
};

using List = xtd::ivlist<Item, 0>;
using OtherList = xtd::ivlist<Item, 1>;
using Link = xtd::ivlink<Item, 0>;

template <class L>
std::vector<int> values(L& list) {
  std::vector<int> out;
  for (Item* i = list.front(); i; i = list.next(i)) out.push_back(i->value);
  return out;
}

// Walks backwards through the prev links, to catch lists whose two
// directions disagree.
std::vector<int> valuesBackwards(List& list) {
  std::vector<int> out;
  for (const Link* l = list.last_link(); l != list.sentinel(); l = l->link_prev())
    out.insert(out.begin(), static_cast<const Item*>(l)->value);
  return out;
}

bool unlinked(const Item& i) {
  const Link& l = i;
  return l.link_next() == nullptr && l.link_prev() == nullptr && !l.is_linked();
}

TEST(IvlinkTest, EmptyListIsASentinelPointingAtItself) {
  List list;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.first_link(), list.sentinel());
  EXPECT_EQ(list.last_link(), list.sentinel());
  EXPECT_EQ(list.sentinel()->link_next(), list.sentinel());
  EXPECT_EQ(list.sentinel()->link_prev(), list.sentinel());
  EXPECT_EQ(list.front(), nullptr);
  EXPECT_EQ(list.back(), nullptr);
  EXPECT_EQ(list.pop_front(), nullptr);
  EXPECT_EQ(list.count(), 0u);
}

TEST(IvlinkTest, NewElementIsInNoListAndConversionsKeepNull) {
  Item a(1);
  EXPECT_TRUE(unlinked(a));
  EXPECT_EQ(List::link(nullptr), nullptr);
  EXPECT_EQ(List::element(nullptr), nullptr);
  EXPECT_EQ(List::element(List::link(&a)), &a);
}

TEST(IvlinkTest, PushBackAndFrontKeepOrderInBothDirections) {
  Item a(1), b(2), c(3), d(0);
  List list;
  list.push_back(&a);
  list.push_back(&b);
  list.push_back(&c);
  list.push_front(&d);
  EXPECT_EQ(values(list), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(valuesBackwards(list), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(list.front(), &d);
  EXPECT_EQ(list.back(), &c);
  EXPECT_EQ(list.count(), 4u);
  EXPECT_TRUE(list.contains(&b));
  list.init();
}

TEST(IvlinkTest, InsertBeforeAnElementPutsItInFront) {
  Item a(1), b(3), c(2);
  List list;
  list.push_back(&a);
  list.push_back(&b);
  List::insert_before(&b, &c);
  EXPECT_EQ(values(list), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(valuesBackwards(list), (std::vector<int>{1, 2, 3}));
  list.init();
}

TEST(IvlinkTest, UnlinkingTheOnlyElementLeavesBothEmpty) {
  Item a(1);
  List list;
  list.push_back(&a);
  EXPECT_TRUE(static_cast<Link&>(a).is_linked());
  List::unlink(&a);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.sentinel()->link_next(), list.sentinel());
  EXPECT_EQ(list.sentinel()->link_prev(), list.sentinel());
  EXPECT_TRUE(unlinked(a));
}

TEST(IvlinkTest, UnlinkingHeadMiddleAndTailRepairsNeighbours) {
  Item a(1), b(2), c(3), d(4), e(5);
  List list;
  for (Item* i : {&a, &b, &c, &d, &e}) list.push_back(i);
  List::unlink(&c);
  EXPECT_EQ(values(list), (std::vector<int>{1, 2, 4, 5}));
  List::unlink(&a);
  List::unlink(&e);
  EXPECT_EQ(values(list), (std::vector<int>{2, 4}));
  EXPECT_EQ(valuesBackwards(list), (std::vector<int>{2, 4}));
  EXPECT_TRUE(unlinked(a));
  EXPECT_TRUE(unlinked(c));
  EXPECT_TRUE(unlinked(e));
  EXPECT_EQ(list.pop_front(), &b);
  EXPECT_TRUE(unlinked(b));
  EXPECT_EQ(list.pop_front(), &d);
  EXPECT_TRUE(list.empty());
}

TEST(IvlinkTest, SplicingAnEmptyListChangesNeither) {
  Item a(1), b(2);
  List target, source;
  target.push_back(&a);
  target.push_back(&b);
  target.splice_back(source);
  List::splice(source, List::link(&a));
  EXPECT_EQ(values(target), (std::vector<int>{1, 2}));
  EXPECT_EQ(valuesBackwards(target), (std::vector<int>{1, 2}));
  EXPECT_TRUE(source.empty());
  target.init();
}

TEST(IvlinkTest, SplicingThreeBehindTwoGivesFiveInOrderAndEmptiesTheSource) {
  Item t1(1), t2(2), s1(3), s2(4), s3(5);
  List target, source;
  target.push_back(&t1);
  target.push_back(&t2);
  for (Item* i : {&s1, &s2, &s3}) source.push_back(i);
  List::splice(source, target.sentinel());
  EXPECT_EQ(values(target), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(valuesBackwards(target), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(source.empty());
  EXPECT_EQ(source.sentinel()->link_next(), source.sentinel());
  EXPECT_EQ(source.sentinel()->link_prev(), source.sentinel());
  // The source can be used again at once.
  Item x(9);
  source.push_back(&x);
  EXPECT_EQ(values(source), (std::vector<int>{9}));
  source.init();
  target.init();
}

TEST(IvlinkTest, SplicingBeforeAnElementInsertsInTheMiddle) {
  Item t1(1), t2(4), s1(2), s2(3);
  List target, source;
  target.push_back(&t1);
  target.push_back(&t2);
  source.push_back(&s1);
  source.push_back(&s2);
  List::splice(source, List::link(&t2));
  EXPECT_EQ(values(target), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(valuesBackwards(target), (std::vector<int>{1, 2, 3, 4}));
  target.init();
}

TEST(IvlinkTest, LinksWithDifferentNumbersAreIndependentLists) {
  Item a(1), b(2), c(3);
  List first;
  OtherList second;
  first.push_back(&a);
  first.push_back(&b);
  second.push_back(&c);
  second.push_back(&a);
  EXPECT_EQ(values(first), (std::vector<int>{1, 2}));
  EXPECT_EQ(values(second), (std::vector<int>{3, 1}));
  OtherList::unlink(&a);
  EXPECT_EQ(values(first), (std::vector<int>{1, 2}));
  EXPECT_EQ(values(second), (std::vector<int>{3}));
  first.init();
  second.init();
}

TEST(IvlinkTest, ACopyOfAListedElementIsInNoList) {
  Item a(1);
  List list;
  list.push_back(&a);
  Item copy(a);
  EXPECT_TRUE(unlinked(copy));
  EXPECT_EQ(list.count(), 1u);
  list.init();
}

}  // namespace
