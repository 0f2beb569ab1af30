// The doubly linked node list: appending, removing, membership.
#include "sdk/volume/node_list.h"
#include "sdk/volume/node_list_ptr.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

}  // namespace

TEST(NodeList, NewListIsAllZero) {
  ListPtr list(ZTR_NewList());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->tail, nullptr);
  EXPECT_EQ(list->reserved, nullptr);
}

TEST(NodeList, AppendingLinksAtTheTail) {
  ListPtr list(ZTR_NewList());
  ASSERT_NE(list, nullptr);
  int items[3] = {1, 2, 3};
  ZTR_LIST_NODE* nodes[3];
  for (int n = 0; n < 3; ++n) {
    nodes[n] = ZTR_NewNodeAddedToList(list.get());
    ASSERT_NE(nodes[n], nullptr);
    EXPECT_EQ(nodes[n]->item, nullptr);
    EXPECT_EQ(nodes[n]->next, nullptr);
    nodes[n]->item = &items[n];
    EXPECT_EQ(list->tail, nodes[n]);
    EXPECT_EQ(list->count, n + 1);
  }
  EXPECT_EQ(list->head, nodes[0]);
  EXPECT_EQ(nodes[0]->previous, nullptr);
  EXPECT_EQ(nodes[0]->next, nodes[1]);
  EXPECT_EQ(nodes[1]->previous, nodes[0]);
  EXPECT_EQ(nodes[2]->previous, nodes[1]);
  EXPECT_EQ(*static_cast<int*>(list->head->next->next->item), 3);
  EXPECT_EQ(ZTR_NewNodeAddedToList(nullptr), nullptr);
}

TEST(NodeList, RemovingTheMiddleLinksHeadAndTailBothWays) {
  ListPtr list(ZTR_NewList());
  ZTR_LIST_NODE* a = ZTR_NewNodeAddedToList(list.get());
  ZTR_LIST_NODE* b = ZTR_NewNodeAddedToList(list.get());
  ZTR_LIST_NODE* c = ZTR_NewNodeAddedToList(list.get());
  ASSERT_TRUE(a && b && c);
  ASSERT_EQ(ZTR_RemoveNodeFromList(b, list.get()), 0);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(list->head, a);
  EXPECT_EQ(list->tail, c);
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->previous, a);
  EXPECT_EQ(a->previous, nullptr);
  EXPECT_EQ(c->next, nullptr);
}

TEST(NodeList, RemovingHeadAndTailMovesThem) {
  ListPtr list(ZTR_NewList());
  ZTR_LIST_NODE* a = ZTR_NewNodeAddedToList(list.get());
  ZTR_LIST_NODE* b = ZTR_NewNodeAddedToList(list.get());
  ZTR_LIST_NODE* c = ZTR_NewNodeAddedToList(list.get());
  ASSERT_TRUE(a && b && c);
  ASSERT_EQ(ZTR_RemoveNodeFromList(a, list.get()), 0);
  EXPECT_EQ(list->head, b);
  EXPECT_EQ(b->previous, nullptr);
  ASSERT_EQ(ZTR_RemoveNodeFromList(c, list.get()), 0);
  EXPECT_EQ(list->tail, b);
  EXPECT_EQ(b->next, nullptr);
  EXPECT_EQ(list->head, b);
  EXPECT_EQ(list->count, 1);
}

TEST(NodeList, RemovingTheLastNodeLeavesAnEmptyList) {
  ListPtr list(ZTR_NewList());
  int item = 5;
  ZTR_LIST_NODE* only = ZTR_NewNodeAddedToList(list.get());
  ASSERT_NE(only, nullptr);
  only->item = &item;
  ASSERT_EQ(ZTR_RemoveNodeFromList(only, list.get()), 0);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->tail, nullptr);
  EXPECT_EQ(item, 5);  // the item is not the list's to free
  // The list is usable again.
  ZTR_LIST_NODE* again = ZTR_NewNodeAddedToList(list.get());
  EXPECT_EQ(list->head, again);
  EXPECT_EQ(list->tail, again);
}

TEST(NodeList, ForeignNodeIsRefusedAndBothListsStayUnchanged) {
  ListPtr first(ZTR_NewList());
  ListPtr second(ZTR_NewList());
  ZTR_LIST_NODE* a = ZTR_NewNodeAddedToList(first.get());
  ZTR_LIST_NODE* b = ZTR_NewNodeAddedToList(first.get());
  ZTR_LIST_NODE* other = ZTR_NewNodeAddedToList(second.get());
  ASSERT_TRUE(a && b && other);
  first->reserved = &first;
  EXPECT_EQ(ZTR_RemoveNodeFromList(other, first.get()), -1);
  EXPECT_EQ(first->count, 2);
  EXPECT_EQ(first->head, a);
  EXPECT_EQ(first->tail, b);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(second->count, 1);
  EXPECT_EQ(second->head, other);
  EXPECT_EQ(other->previous, nullptr);
  EXPECT_EQ(other->next, nullptr);
  EXPECT_EQ(first->reserved, &first);
}

TEST(NodeList, EmptyListOrMissingArgumentsAreRefused) {
  ListPtr list(ZTR_NewList());
  ListPtr other(ZTR_NewList());
  ZTR_LIST_NODE* node = ZTR_NewNodeAddedToList(other.get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(ZTR_RemoveNodeFromList(node, list.get()), -1);
  EXPECT_EQ(ZTR_RemoveNodeFromList(nullptr, other.get()), -1);
  EXPECT_EQ(ZTR_RemoveNodeFromList(node, nullptr), -1);
  EXPECT_EQ(other->count, 1);
}
