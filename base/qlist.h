// Intrusive doubly linked list of polymorphic nodes, and the node base of the
// least-recently-used caches (the record manager's records, the polygon
// cache's entries). Single owner, no locks.
#pragma once

#include <cstddef>

class QDlistObject {
 public:
  QDlistObject() = default;
  virtual ~QDlistObject() = default;
  QDlistObject(const QDlistObject&) = delete;
  QDlistObject& operator=(const QDlistObject&) = delete;

  // Whether this node holds key; nodes of caches override it.
  virtual bool Matches(const void* key) const {
    (void)key;
    return false;
  }
  virtual bool IsValid() const { return true; }
  virtual bool Reserved() const { return false; }

  QDlistObject* next = nullptr;
  QDlistObject* previous = nullptr;
};

// The node base of LRU caches: Matches must be supplied by the derived class.
class QLRUObject : public QDlistObject {
 public:
  bool Matches(const void* key) const override = 0;
};

// A list with a head node and a tail sentinel; the first real node follows
// the head, the tail ends the walk. Owns its nodes.
class QDlist {
 public:
  explicit QDlist(const char* name = nullptr);
  ~QDlist();
  QDlist(const QDlist&) = delete;
  QDlist& operator=(const QDlist&) = delete;

  static void AddTail(QDlist& list, QDlistObject* node);
  static void DeleteAll(QDlist& list);

  void AddTail(QDlistObject* node) { AddTail(*this, node); }
  void AddHead(QDlistObject* node);
  // Takes the node out of the list without deleting it.
  void Unlink(QDlistObject* node);
  void MoveToHead(QDlistObject* node);

  // The first real node, the node after node, or null at the tail.
  QDlistObject* First() const { return Next(&head_); }
  QDlistObject* Next(const QDlistObject* node) const {
    return node->next == &tail_ ? nullptr : node->next;
  }
  // The last real node, or null when empty.
  QDlistObject* Last() const { return last_ == &head_ ? nullptr : last_; }
  bool Empty() const { return last_ == &head_; }
  const char* Name() const { return name_; }

 private:
  QDlistObject head_;
  QDlistObject tail_;
  QDlistObject* last_;
  char name_[9];
};
