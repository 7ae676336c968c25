#include "xbase/list4.h"

namespace {
LINK4* L(void* item) { return static_cast<LINK4*>(item); }

// Into an empty list the element becomes its only member.
bool AddToEmpty(LIST4* list, LINK4* link) {
  if (list->lastNode != nullptr) return false;
  link->n = link->p = link;
  list->lastNode = link;
  list->numLinks++;
  return true;
}
}  // namespace

void l4add(LIST4* list, void* item) { l4addAfter(list, list->lastNode, item); }

void l4addAfter(LIST4* list, void* anchor, void* item) {
  LINK4* link = L(item);
  if (AddToEmpty(list, link)) return;
  LINK4* a = L(anchor);
  link->p = a;
  link->n = a->n;
  a->n->p = link;
  a->n = link;
  if (a == list->lastNode) list->lastNode = link;
  list->numLinks++;
}

void l4addBefore(LIST4* list, void* anchor, void* item) {
  LINK4* link = L(item);
  if (AddToEmpty(list, link)) return;
  LINK4* a = L(anchor);
  link->n = a;
  link->p = a->p;
  a->p->n = link;
  a->p = link;
  list->numLinks++;
}

void* l4first(const LIST4* list) { return list->lastNode ? list->lastNode->n : nullptr; }

void* l4last(const LIST4* list) { return list->lastNode; }

void* l4next(const LIST4* list, const void* item) {
  if (item == nullptr) return l4first(list);
  if (item == list->lastNode) return nullptr;
  return static_cast<const LINK4*>(item)->n;
}

void* l4prev(const LIST4* list, const void* item) {
  if (item == nullptr) return list->lastNode;
  if (list->lastNode == nullptr || item == list->lastNode->n) return nullptr;
  return static_cast<const LINK4*>(item)->p;
}

void* l4pop(LIST4* list) {
  LINK4* last = list->lastNode;
  if (last) l4remove(list, last);
  return last;
}

void l4remove(LIST4* list, void* item) {
  if (item == nullptr || list->lastNode == nullptr) return;
  LINK4* link = L(item);
  if (list->selected == link) {
    list->selected = (link->n == link) ? nullptr : link->n;
  }
  if (link == list->lastNode) {
    list->lastNode = (link->p == link) ? nullptr : link->p;
  }
  link->p->n = link->n;
  link->n->p = link->p;
  link->n = link->p = nullptr;
  list->numLinks--;
}
