// The doubly linked node list.
#include "sdk/volume/node_list.h"

#include <cstdlib>

ZTR_LIST* ZTR_NewList() { return static_cast<ZTR_LIST*>(std::calloc(1, sizeof(ZTR_LIST))); }

void ZTR_DeleteList(ZTR_LIST* list) {
  if (list == nullptr) return;
  ZTR_LIST_NODE* node = list->head;
  // At most `count` steps, so that a damaged list cannot loop forever.
  for (int32_t n = 0; node != nullptr && n < list->count; ++n) {
    ZTR_LIST_NODE* next = node->next;
    std::free(node);
    node = next;
  }
  std::free(list);
}

ZTR_LIST_NODE* ZTR_NewNodeAddedToList(ZTR_LIST* list) {
  if (list == nullptr) return nullptr;
  auto* node = static_cast<ZTR_LIST_NODE*>(std::calloc(1, sizeof(ZTR_LIST_NODE)));
  if (node == nullptr) return nullptr;
  node->previous = list->tail;
  if (list->head == nullptr) {
    list->head = node;
  } else {
    list->tail->next = node;
  }
  list->tail = node;
  ++list->count;
  return node;
}

int ZTR_RemoveNodeFromList(ZTR_LIST_NODE* node, ZTR_LIST* list) {
  if (node == nullptr || list == nullptr || list->head == nullptr || list->count <= 0) return -1;
  bool member = false;
  ZTR_LIST_NODE* walk = list->head;
  for (int32_t n = 0; walk != nullptr && n < list->count; ++n, walk = walk->next) {
    if (walk == node) {
      member = true;
      break;
    }
  }
  if (!member) return -1;
  if (node == list->head && node == list->tail) {
    list->head = nullptr;
    list->tail = nullptr;
  } else if (node == list->head) {
    list->head = node->next;
    list->head->previous = nullptr;
  } else if (node == list->tail) {
    list->tail = node->previous;
    list->tail->next = nullptr;
  } else {
    node->previous->next = node->next;
    node->next->previous = node->previous;
  }
  std::free(node);
  --list->count;
  return 0;
}
