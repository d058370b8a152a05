// Circular doubly linked lists whose head lives in the owner; new members
// are linked at the tail, so list order is creation order.
#pragma once

struct ListLink {
  ListLink* next;
  ListLink* prev;
  void* owner;  // the record this node belongs to; null for a list head
};

inline void InitListHead(ListLink* head) {
  head->next = head;
  head->prev = head;
  head->owner = nullptr;
}

inline void InitListNode(ListLink* node, void* owner) {
  node->next = node;
  node->prev = node;
  node->owner = owner;
}

inline bool ListEmpty(const ListLink* head) { return head->next == head; }

inline void LinkAtTail(ListLink* head, ListLink* node) {
  node->prev = head->prev;
  node->next = head;
  head->prev->next = node;
  head->prev = node;
}

inline void Unlink(ListLink* node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->next = node;
  node->prev = node;
}

template <typename T>
T* ListOwner(ListLink* node) {
  return static_cast<T*>(node->owner);
}
