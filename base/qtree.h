// The name tree: a static B-tree of fixed-size records (a key, then data)
// stored as pages of one size inside a larger file. QTreeBuild collects
// records, sorts them when they did not come in order and writes the tree
// bottom-up, level by level; QTree opens a tree at its root and finds keys,
// the first of several equal keys, and the entries that follow in key order.
//
// Node page (little-endian; every node lies at a multiple of the page size):
//   0  u16 entry count       2  u16 page size      4  u16 level (0 = leaf)
//   6  u8  flags: 1 inner node, 2 leaf, 4 first node of its level, 8 last
//   7  u8  bit 0: an area after the entries belongs to the caller (0 here)
//   8  u8  key length        9  u8  data length (8 in inner nodes)
//   10 u16 0
//   12 entries in ascending key order, key then data; a node takes as many as
//      fit in page size - 16 bytes
//   page size - 2: u16 check value (as for paged files)
// An inner entry's data is the u64 file offset of a child node and its key
// the child's first key. The nodes of a level follow each other at
// increasing offsets, leaves first; the root, the only node of the last
// level, comes last. The tree's position is the root's offset.
//
// Keys compare, by default, as texts ignoring ASCII case, up to their first
// zero byte and never beyond the key length (QTreeKeyCompare).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/qerror.h"
#include "base/qfile.h"
#include "base/qio.h"
#include "base/recmgr.h"

inline constexpr size_t kQTreeNodeHeaderSize = 12;
// Bytes of a node that entries may not use: the header, the check value and
// two spare bytes.
inline constexpr size_t kQTreeNodeReserve = 16;
inline constexpr size_t kQTreeRootHeaderSize = 14;
inline constexpr uint8_t kQTreeInner = 1;
inline constexpr uint8_t kQTreeLeaf = 2;
inline constexpr uint8_t kQTreeFirst = 4;
inline constexpr uint8_t kQTreeLast = 8;
inline constexpr uint8_t kQTreeCallerArea = 1;

// ASCII case-folded compare of two keys of length bytes, each ending at its
// first zero byte or at length; locale-independent.
int QTreeKeyCompare(const void* a, const void* b, size_t length);

// compare(context, key, entry key): negative when key sorts before the entry.
using QTreeCompare = int (*)(void* context, const void* key, const void* entryKey);

class QTree {
 public:
  // Opens the tree whose root lies at rootOffset of file. compare null: the
  // default key order. A root that cannot be read or does not describe a tree
  // is recorded (111) and leaves the tree closed: it finds nothing.
  QTree(const char* name, QFile& file, uint64_t rootOffset, QTreeCompare compare, void* context,
        QError& error);
  ~QTree() = default;
  QTree(const QTree&) = delete;
  QTree& operator=(const QTree&) = delete;

  bool IsOpen() const { return open_; }

  // Finds key; with first set, the first of several equal entries, and when
  // no entry equals it, the last entry before it (none: not found). Copies the
  // entry's key (KeyLength bytes) and data (LeafDataLength bytes) to the
  // outputs that are not null.
  bool Find(const void* key, void* keyOut, void* dataOut, bool first);
  // The entry after the current one in key order; false after the last entry
  // of the last leaf, or without a current entry.
  bool FindNext(void* keyOut, void* dataOut);

  uint8_t KeyLength() const { return root_[8]; }
  uint8_t LeafDataLength() const { return leafDataLength_; }
  uint16_t PageSize() const { return pageSize_; }
  uint16_t RootLevel() const { return rootLevel_; }
  uint64_t RootOffset() const { return rootOffset_; }
  // The first 14 bytes of the root node.
  const uint8_t* RootHeader() const { return root_; }
  // The caller's area of the current leaf (after its last entry) when the
  // leaf says it has one, else null.
  const uint8_t* CallerArea() const { return callerArea_; }
  // The current entry's leaf page number and index (-1 when there is none).
  int64_t CurrentPage() const { return page_; }
  int32_t CurrentEntry() const { return entry_; }

 private:
  struct Node {
    const uint8_t* bytes = nullptr;
    uint16_t count = 0;
    uint8_t flags = 0;
    uint32_t stride = 0;
    const uint8_t* Entry(uint32_t i) const { return bytes + kQTreeNodeHeaderSize + size_t(i) * stride; }
  };

  // Reads page number as a node of level; false (111 recorded) when it cannot
  // be read or is not such a node.
  bool LoadNode(uint64_t page, uint16_t level, Node* node);
  bool Damaged(uint64_t page);
  int Compare(const void* key, const void* entryKey) const;
  static int SearchCompare(const void* context, const void* element);
  void SetCurrent(const Node& node, uint64_t page, int32_t entry);
  void Copy(const Node& node, int32_t entry, void* keyOut, void* dataOut) const;
  void Clear();

  std::string name_;
  uint64_t rootOffset_;
  uint8_t root_[kQTreeRootHeaderSize] = {};
  QFile& file_;
  QTreeCompare compare_;
  void* context_;
  QError& error_;
  std::unique_ptr<QRecordMgr> recordMgr_;
  uint16_t pageSize_ = 0;
  uint16_t rootLevel_ = 0;
  uint8_t leafDataLength_ = 0;
  bool open_ = false;

  int64_t page_ = -1;
  int32_t entry_ = -1;
  const uint8_t* callerArea_ = nullptr;
};

// progress(context, text, value from 0 to 10000).
using QTreeBuildProgress = void (*)(void* context, const char* text, int value);
// compare(context, record a, record b): the key order of two whole records.
using QTreeBuildCompare = int (*)(void* context, const void* a, const void* b);

class QTreeBuild {
 public:
  // Creates the record file in directory (the system's temporary folder when
  // it is empty). Every temporary file of the builder is removed once used,
  // and by the destructor whatever happened.
  QTreeBuild(QError& error, const std::string& directory);
  ~QTreeBuild();
  QTreeBuild(const QTreeBuild&) = delete;
  QTreeBuild& operator=(const QTreeBuild&) = delete;

  // Before the first Add.
  void SetKeyLength(uint8_t length) { keyLength_ = length; }
  void SetDataLength(uint8_t length) { dataLength_ = length; }
  void SetPageSize(uint16_t size) { pageSize_ = size; }
  void SetProgress(QTreeBuildProgress progress, void* context) {
    progress_ = progress;
    progressContext_ = context;
  }
  // null: the default key order (QTreeKeyCompare over the key length).
  void SetCompare(QTreeBuildCompare compare, void* context) {
    compare_ = compare;
    compareContext_ = context;
  }

  // Appends key (key length bytes) and data (data length bytes); a key that
  // sorts before the previous one makes Write sort the records first.
  bool Add(const void* key, const void* data);
  // Writes the tree at the end of output (padded first to a multiple of the
  // page size) and returns the root's offset, or -1 on any failure.
  int64_t Write(QioFile& output);

  uint64_t Count() const { return count_; }
  bool NeedsSort() const { return needsSort_; }
  uint32_t Sequence() const { return sequence_; }
  uint8_t KeyLength() const { return keyLength_; }
  uint8_t DataLength() const { return dataLength_; }
  uint16_t PageSize() const { return pageSize_; }

 private:
  class RecordFile;
  class Sorter;
  friend class Sorter;

  bool CheckLayout();
  int CompareRecords(const void* a, const void* b) const;
  void Progress(const char* text, int value) const;
  bool SortRecords(std::unique_ptr<Sorter>* sorter);

  std::unique_ptr<uint8_t[]> record_;  // the previous record
  std::unique_ptr<RecordFile> records_;
  uint8_t keyLength_ = 8;
  uint8_t dataLength_ = 8;
  uint16_t pageSize_ = 1024;
  std::string directory_;
  QError& error_;
  uint32_t sequence_;
  uint64_t count_ = 0;
  QTreeBuildProgress progress_ = nullptr;
  void* progressContext_ = nullptr;
  QTreeBuildCompare compare_ = nullptr;
  void* compareContext_ = nullptr;
  bool needsSort_ = false;
  bool layoutChecked_ = false;
};
