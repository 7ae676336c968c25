#include "base/qhash.h"

#include <limits>
#include <new>
#include <utility>

QPair::QPair(int32_t key, int32_t value) {
  first_ = {Q_PAIR_LONG, key, nullptr};
  second_ = {Q_PAIR_LONG, value, nullptr};
}

QPair::QPair(int32_t key, QPairObject* value) {
  first_ = {Q_PAIR_LONG, key, nullptr};
  second_ = {Q_PAIR_OBJECT, 0, value};
}

QPair::QPair(BString* key, int32_t value) {
  first_ = {Q_PAIR_OBJECT, 0, key};
  second_ = {Q_PAIR_LONG, value, nullptr};
}

QPair::QPair(BString* key, QPairObject* value) {
  first_ = {Q_PAIR_OBJECT, 0, key};
  second_ = {Q_PAIR_OBJECT, 0, value};
}

QPair::~QPair() { Release(); }

QPair::QPair(QPair&& other) noexcept : first_(other.first_), second_(other.second_) {
  other.first_ = {};
  other.second_ = {};
}

QPair& QPair::operator=(QPair&& other) noexcept {
  if (this != &other) {
    Release();
    first_ = std::exchange(other.first_, {});
    second_ = std::exchange(other.second_, {});
  }
  return *this;
}

void QPair::Release() {
  if (first_.kind == Q_PAIR_OBJECT) delete first_.object;
  if (second_.kind == Q_PAIR_OBJECT) delete second_.object;
  first_ = {};
  second_ = {};
}

const BString* QPair::TextKey() const {
  if (first_.kind != Q_PAIR_OBJECT) return nullptr;
  return dynamic_cast<const BString*>(first_.object);
}

QHashMap::QHashMap() : hasher_(new QHashLong) {
  buckets_ = new (std::nothrow) Entry*[29]();
  bucketCount_ = buckets_ ? 29 : 0;
}

QHashMap::~QHashMap() {
  Entry* entry = orderHead_;
  while (entry) {
    Entry* next = entry->orderNext;
    delete entry;
    entry = next;
  }
  delete[] buckets_;
  delete hasher_;
}

int QHashMap::Insert(QPair&& pair) {
  if (bucketCount_ == 0) return 0;
  uint32_t bucket = 0;
  if (pair.HasIntegerKey() && hasher_->Kind() == Q_PAIR_LONG) {
    bucket = hasher_->Hash(pair.IntegerKey(), bucketCount_);
    for (Entry* e = buckets_[bucket]; e; e = e->chain) {
      if (e->pair.HasIntegerKey() && e->pair.IntegerKey() == pair.IntegerKey()) {
        e->pair = std::move(pair);
        return 2;
      }
    }
  } else if (const BString* text = pair.TextKey(); text && hasher_->Kind() != Q_PAIR_LONG) {
    bucket = hasher_->Hash(*text, bucketCount_) % bucketCount_;
    for (Entry* e = buckets_[bucket]; e; e = e->chain) {
      const BString* other = e->pair.TextKey();
      if (other && *other == *text) {
        e->pair = std::move(pair);
        return 2;
      }
    }
  }
  Entry* entry = new (std::nothrow) Entry;
  if (!entry) return 0;
  entry->pair = std::move(pair);
  entry->chain = buckets_[bucket];
  buckets_[bucket] = entry;
  entry->orderNext = orderHead_;
  if (orderHead_) orderHead_->orderPrevious = entry;
  orderHead_ = entry;
  if (!orderTail_) orderTail_ = entry;
  ++count_;
  if (count_ >= threshold_) Grow();
  return 1;
}

void QHashMap::Grow() {
  int32_t next;
  if (step_ < 0) {
    next = 0;
    while (next < 15 && kSizes[next] < 2 * threshold_) ++next;
  } else {
    next = step_ + 1;
  }
  if (next >= 15) {
    threshold_ = std::numeric_limits<uint32_t>::max();  // no growth after the last size
    return;
  }
  uint32_t size = kSizes[next];
  Entry** fresh = new (std::nothrow) Entry*[size]();
  if (!fresh) return;  // keep the old array
  // Oldest first, so that each chain ends up newest first as after inserts.
  for (Entry* e = orderTail_; e; e = e->orderPrevious) {
    uint32_t bucket = 0;
    if (e->pair.HasIntegerKey())
      bucket = hasher_->Hash(e->pair.IntegerKey(), size);
    else if (const BString* text = e->pair.TextKey())
      bucket = hasher_->Hash(*text, size) % size;
    e->chain = fresh[bucket];
    fresh[bucket] = e;
  }
  delete[] buckets_;
  buckets_ = fresh;
  bucketCount_ = size;
  threshold_ = size;
  step_ = next;
}

QPair* QHashMap::Find(int32_t key) {
  if (bucketCount_ == 0 || hasher_->Kind() != Q_PAIR_LONG) return nullptr;
  for (Entry* e = buckets_[hasher_->Hash(key, bucketCount_)]; e; e = e->chain)
    if (e->pair.HasIntegerKey() && e->pair.IntegerKey() == key) return &e->pair;
  return nullptr;
}

QPair* QHashMap::Find(const BString& key) {
  if (bucketCount_ == 0 || hasher_->Kind() == Q_PAIR_LONG) return nullptr;
  for (Entry* e = buckets_[hasher_->Hash(key, bucketCount_) % bucketCount_]; e; e = e->chain) {
    const BString* other = e->pair.TextKey();
    if (other && *other == key) return &e->pair;
  }
  return nullptr;
}

void QHashMap::Unlink(Entry* entry, Entry** link) {
  *link = entry->chain;
  if (entry->orderPrevious)
    entry->orderPrevious->orderNext = entry->orderNext;
  else
    orderHead_ = entry->orderNext;
  if (entry->orderNext)
    entry->orderNext->orderPrevious = entry->orderPrevious;
  else
    orderTail_ = entry->orderPrevious;
  if (cursor_ == entry) cursor_ = entry->orderNext;
  delete entry;
  --count_;
}

bool QHashMap::Remove(int32_t key) {
  if (bucketCount_ == 0 || hasher_->Kind() != Q_PAIR_LONG) return false;
  Entry** link = &buckets_[hasher_->Hash(key, bucketCount_)];
  for (; *link; link = &(*link)->chain) {
    if ((*link)->pair.HasIntegerKey() && (*link)->pair.IntegerKey() == key) {
      Unlink(*link, link);
      return true;
    }
  }
  return false;
}

bool QHashMap::Remove(const BString& key) {
  if (bucketCount_ == 0 || hasher_->Kind() == Q_PAIR_LONG) return false;
  Entry** link = &buckets_[hasher_->Hash(key, bucketCount_) % bucketCount_];
  for (; *link; link = &(*link)->chain) {
    const BString* other = (*link)->pair.TextKey();
    if (other && *other == key) {
      Unlink(*link, link);
      return true;
    }
  }
  return false;
}

void QHashMap::Clear() {
  for (uint32_t b = 0; b < bucketCount_; ++b) {
    Entry* e = buckets_[b];
    while (e) {
      Entry* next = e->chain;
      delete e;
      e = next;
    }
    buckets_[b] = nullptr;
  }
  count_ = 0;
  cursor_ = orderHead_ = orderTail_ = nullptr;
}

QPair* QHashMap::First() {
  cursor_ = orderHead_;
  return Next();
}

QPair* QHashMap::Next() {
  if (!cursor_) return nullptr;
  Entry* current = cursor_;
  cursor_ = current->orderNext;
  return &current->pair;
}
