// A doubly linked list of untyped items. The list owns its nodes, never the items.
#pragma once

#include <cstdint>

struct ZTR_LIST_NODE {
  ZTR_LIST_NODE* next;
  ZTR_LIST_NODE* previous;
  void* item;  // the caller's object; nullptr in a new node
};

struct ZTR_LIST {
  int32_t count;
  ZTR_LIST_NODE* head;
  ZTR_LIST_NODE* tail;
  void* reserved;  // zero in a new list; the list operations leave it alone
};

// A new, all-zero list, or nullptr when memory runs out.
ZTR_LIST* ZTR_NewList();

// Frees the list and its nodes (not their items); nullptr is ignored.
void ZTR_DeleteList(ZTR_LIST* list);

// Appends a new node at the tail and returns it for the caller to set `item`; nullptr for a
// missing list or when memory runs out.
ZTR_LIST_NODE* ZTR_NewNodeAddedToList(ZTR_LIST* list);

// Unlinks and frees the node (not its item). 0, or -1 when the list is empty or the node is
// not one of its nodes (nothing is changed then).
int ZTR_RemoveNodeFromList(ZTR_LIST_NODE* node, ZTR_LIST* list);
