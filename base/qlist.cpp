#include "base/qlist.h"

#include "base/qstring.h"

QDlist::QDlist(const char* name) : last_(&head_) {
  head_.next = &tail_;
  tail_.previous = &head_;
  StrCopySized(name_, name ? name : "*UNKNOWN", sizeof name_);
}

QDlist::~QDlist() { DeleteAll(*this); }

void QDlist::AddTail(QDlist& list, QDlistObject* node) {
  node->next = &list.tail_;
  node->previous = list.last_;
  list.last_->next = node;
  list.tail_.previous = node;
  list.last_ = node;
}

void QDlist::AddHead(QDlistObject* node) {
  QDlistObject* first = head_.next;
  node->previous = &head_;
  node->next = first;
  first->previous = node;
  head_.next = node;
  if (last_ == &head_) last_ = node;
}

void QDlist::Unlink(QDlistObject* node) {
  node->previous->next = node->next;
  node->next->previous = node->previous;
  if (last_ == node) last_ = node->previous;
  node->next = node->previous = nullptr;
}

void QDlist::MoveToHead(QDlistObject* node) {
  if (head_.next == node) return;
  Unlink(node);
  AddHead(node);
}

void QDlist::DeleteAll(QDlist& list) {
  QDlistObject* node = list.head_.next;
  while (node != &list.tail_) {
    QDlistObject* next = node->next;
    delete node;
    node = next;
  }
  list.head_.next = &list.tail_;
  list.tail_.previous = &list.head_;
  list.last_ = &list.head_;
}
