// Key-value pairs and the chained hash map of the base library.
//
// A QPair holds two members, each either an owned object (kind 1, deleted
// with the pair) or a 32-bit integer (kind 2); its key is the first member.
// QHashMap is always made with the integer hasher (QHashLong): integer keys
// are found and replaced; text keys are stored but never found or replaced.
// Entries are also chained in insertion order, newest first, for iteration.
// No entry reaches QPair or QHashMap yet: only the tests use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Base of the objects a pair can own.
class QPairObject {
 public:
  virtual ~QPairObject() = default;
};

// A copyable byte string, the text key of a pair.
class BString : public QPairObject {
 public:
  BString() = default;
  explicit BString(std::string_view bytes) : bytes_(bytes) {}
  BString(const void* data, size_t length)
      : bytes_(static_cast<const char*>(data), length) {}
  const char* Data() const { return bytes_.data(); }
  size_t Length() const { return bytes_.size(); }
  std::string_view View() const { return bytes_; }
  bool operator==(const BString& other) const { return bytes_ == other.bytes_; }

 private:
  std::string bytes_;
};

enum QPairKind : int32_t { Q_PAIR_NONE = 0, Q_PAIR_OBJECT = 1, Q_PAIR_LONG = 2 };

struct QPairMember {
  int32_t kind = Q_PAIR_NONE;
  int32_t value = 0;                 // kind 2
  QPairObject* object = nullptr;     // kind 1, owned
};

class QPair {
 public:
  QPair() = default;
  QPair(int32_t key, int32_t value);
  QPair(int32_t key, QPairObject* value);
  QPair(BString* key, int32_t value);
  QPair(BString* key, QPairObject* value);
  virtual ~QPair();
  QPair(QPair&& other) noexcept;
  QPair& operator=(QPair&& other) noexcept;
  QPair(const QPair&) = delete;
  QPair& operator=(const QPair&) = delete;

  const QPairMember& First() const { return first_; }
  const QPairMember& Second() const { return second_; }
  bool HasIntegerKey() const { return first_.kind == Q_PAIR_LONG; }
  int32_t IntegerKey() const { return first_.value; }
  // The text key, or null when the key is not a BString.
  const BString* TextKey() const;
  int32_t SecondValue() const { return second_.value; }
  QPairObject* SecondObject() const { return second_.object; }

 private:
  void Release();
  QPairMember first_;
  QPairMember second_;
};

// Abstract hasher.
class QHash {
 public:
  virtual ~QHash() = default;
  virtual uint32_t Hash(int32_t key, uint32_t buckets) const = 0;
  virtual uint32_t Hash(const BString& key, uint32_t buckets) const = 0;
  virtual QHash* Clone() const = 0;
  // The key kind the hasher serves (Q_PAIR_LONG for integers).
  virtual int32_t Kind() const = 0;
};

class QHashLong final : public QHash {
 public:
  // The unsigned value modulo the bucket count, so that keys of 2^31 and
  // above land in a bucket like any other.
  uint32_t Hash(int32_t key, uint32_t buckets) const override {
    uint32_t k = static_cast<uint32_t>(key);
    return buckets ? k % buckets : k;
  }
  uint32_t Hash(const BString&, uint32_t) const override { return 0; }
  QHash* Clone() const override { return new QHashLong; }
  int32_t Kind() const override { return Q_PAIR_LONG; }
};

class QMap {
 public:
  virtual ~QMap() = default;
  // 0 failed, 1 added, 2 replaced. Takes the pair's members.
  virtual int Insert(QPair&& pair) = 0;
  virtual QPair* Find(const BString& key) = 0;
  virtual QPair* Find(int32_t key) = 0;
  virtual bool Remove(const BString& key) = 0;
  virtual bool Remove(int32_t key) = 0;
  virtual void Clear() = 0;
  virtual QPair* First() = 0;
  virtual QPair* Next() = 0;
};

class QHashMap : public QMap {
 public:
  QHashMap();
  ~QHashMap() override;
  QHashMap(const QHashMap&) = delete;
  QHashMap& operator=(const QHashMap&) = delete;

  int Insert(QPair&& pair) override;
  QPair* Find(const BString& key) override;
  QPair* Find(int32_t key) override;
  bool Remove(const BString& key) override;
  bool Remove(int32_t key) override;
  void Clear() override;
  QPair* First() override;
  QPair* Next() override;

  uint32_t BucketCount() const { return bucketCount_; }
  uint32_t Count() const { return count_; }
  uint32_t Threshold() const { return threshold_; }

  // Bucket counts after each growth.
  static constexpr uint32_t kSizes[15] = {53,    101,   211,   401,    809,    1601,   3203,  6421,
                                          12809, 25601, 51203, 102407, 204803, 409609, 819229};

 private:
  struct Entry {
    Entry* chain = nullptr;
    QPair pair;
    Entry* orderPrevious = nullptr;  // towards the newest
    Entry* orderNext = nullptr;      // towards the oldest
  };

  void Grow();
  void Unlink(Entry* entry, Entry** link);

  Entry** buckets_ = nullptr;
  uint32_t bucketCount_ = 0;
  uint32_t count_ = 0;
  Entry* cursor_ = nullptr;
  Entry* orderHead_ = nullptr;  // newest
  Entry* orderTail_ = nullptr;  // oldest
  uint32_t threshold_ = 145;
  int32_t step_ = -1;
  QHash* hasher_ = nullptr;
};
