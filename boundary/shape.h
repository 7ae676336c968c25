// Small companions of the geometry classes in Zonelib's class interface: two
// growable collections with a read cursor, and the shape holder CGsbShape
// that keeps one geometry with a type word. The factories, the converters to
// and from the clipper's polygons and the shape functions are C calls
// (zonelib.h).
#pragma once

#include <cstdint>
#include <memory>

#include "boundary/geometry.h"

// A growable array of values with a cursor. The default capacity is 25; an
// add to a full collection doubles it (a collection made with no capacity
// grows to hold the item).
template <typename T>
class ZONELIB_CLASS CValueCollection {
 public:
  CValueCollection() : CValueCollection(25) {}
  explicit CValueCollection(int capacity);
  // Same capacity, count and cursor.
  CValueCollection(const CValueCollection& other);
  // Takes the source's capacity when it is larger; the capacity past the
  // copied items is zeroed.
  CValueCollection& operator=(const CValueCollection& other);
  virtual ~CValueCollection() { delete[] items_; }

  // Appends; 1.
  int add(T value);
  // Cursor to the first item; 1.
  int moveFirst() {
    cursor_ = 0;
    return 1;
  }
  // Cursor to the next item; 1 while it is on an item, else 0.
  int moveNext() {
    ++cursor_;
    return cursor_ < count_ ? 1 : 0;
  }
  // The item at the cursor: 1, or 0 (value untouched) past the last.
  int getCurrent(T& value) const;
  int getCount() const { return count_; }
  // Empties the collection; its array stays for reuse.
  void reset() { count_ = cursor_ = 0; }

 private:
  T* items_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
  int cursor_ = 0;
};

extern template class CValueCollection<double>;
extern template class CValueCollection<int32_t>;

class ZONELIB_CLASS CDoubleCollection : public CValueCollection<double> {
 public:
  using CValueCollection<double>::CValueCollection;
};

class ZONELIB_CLASS CLongCollection : public CValueCollection<int32_t> {
 public:
  using CValueCollection<int32_t>::CValueCollection;
};

// Type words of a shape.
inline constexpr int kShapePoint = 1;
inline constexpr int kShapeLine = 2;
inline constexpr int kShapePolygon = 4;

// Holds one geometry and a type word. The shape owns its geometry; copies of
// a shape share it, and the last of them deletes it.
class ZONELIB_CLASS CGsbShape {
 public:
  CGsbShape() = default;
  CGsbShape(const CGsbShape&) = default;
  CGsbShape& operator=(const CGsbShape&) = default;
  virtual ~CGsbShape() = default;

  // Takes ownership of geometry; the geometry held before is released.
  void setGeometry(IGeometry* geometry);
  IGeometry* getGeometry() const { return geometry_.get(); }
  void setType(int type) { type_ = type; }
  int getType() const { return type_; }

  // With a geometry: what 2 gives the type, 3 the part count, 4 the point
  // count, with result 1. Without a geometry, or for another code: 0.
  int get(int what, int* value) const;
  // With a geometry: what 1 copies the name, 5 the second name, as at most
  // size - 1 characters and a NUL; 1. Another code clears the start of the
  // buffer (at most size bytes, at most a double's) and gives 0; so does a
  // shape without a geometry, which writes nothing.
  int get(int what, char* buffer, int size) const;

 private:
  std::shared_ptr<IGeometry> geometry_;
  int type_ = 0;
};
