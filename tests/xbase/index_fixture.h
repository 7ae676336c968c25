// Helpers of the index tests: tag-definition lists, tables filled with rows,
// the entries a tag walks through, and a reader of compound index files
// written from the format alone (blocks, compression, free list), used to
// check what the engine wrote without going through the engine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/xbase/xbase_fixture.h"
#include "xbase/d4all.h"

namespace xbasetest {

// A tag-definition list ended by the null name.
class TagList {
 public:
  TagList& Add(const std::string& name, const std::string& expression, const std::string& filter = "",
               int unique = 0, int descending = 0) {
    texts_.push_back(std::make_unique<std::string>(name));
    char* n = texts_.back()->data();
    texts_.push_back(std::make_unique<std::string>(expression));
    char* e = texts_.back()->data();
    char* f = nullptr;
    if (!filter.empty()) {
      texts_.push_back(std::make_unique<std::string>(filter));
      f = texts_.back()->data();
    }
    list_.insert(list_.end() - 1, TAG4INFO{n, e, f, int16_t(unique), uint16_t(descending)});
    return *this;
  }
  const TAG4INFO* get() const { return list_.data(); }

 private:
  std::vector<std::unique_ptr<std::string>> texts_;
  std::vector<TAG4INFO> list_ = {TAG4INFO{}};
};

// Appends one record with the given field texts: d4append's result.
inline int AppendRow(DATA4* data, const std::vector<std::pair<const char*, std::string>>& values) {
  if (int rc = d4appendStart(data, 0)) return rc;
  d4blank(data);
  for (const auto& [field, text] : values) f4assign(d4field(data, field), text.c_str());
  return d4append(data);
}

// (key bytes, record number) in the order the tag walks them.
using Entries = std::vector<std::pair<std::string, long>>;

// Every entry of a tag from its physical top, through the tag cursor.
inline Entries TagEntries(TAG4* tag) {
  Entries out;
  TFILE4* t = tag->tagFile;
  if (tfile4rlTop(t) != 0) return out;
  while (!tfile4eof(t)) {
    out.emplace_back(std::string(reinterpret_cast<const char*>(tfile4key(t)), size_t(t->keyLen)), tfile4recNo(t));
    if (tfile4skip(t, 1) != 1) break;
  }
  return out;
}

// ---- an independent reader of the file ----

struct FileTag {
  std::string name;
  uint32_t header = 0;
  uint32_t root = 0;
  int keyLen = 0;
  int typeCode = 0;
  bool descending = false;
  std::string expression, filter;
  Entries entries;  // in stored order
};

struct FileImage {
  std::string error;  // empty when the file read cleanly
  unsigned blockSize = 512;
  std::vector<FileTag> tags;
  std::set<uint32_t> reached;   // block positions of every tree, the directory's too
  std::set<uint32_t> freeList;
  std::vector<uint32_t> unaccounted;  // block positions after the headers in neither set
};

class FileReader {
 public:
  explicit FileReader(std::string bytes) : b_(std::move(bytes)) {}

  FileImage Read() {
    FileImage image;
    if (b_.size() < 1024) return Fail(image, "short file");
    if (Le32(b_, 16) == 0xABCD) image.blockSize = Le32(b_, 20);
    bs_ = image.blockSize;
    FileTag directory;
    directory.keyLen = 10;
    directory.root = Le32(b_, 0);
    Entries names;
    if (!Walk(directory.root, 10, ' ', &names, &image)) return image;
    std::set<uint32_t> headers;
    for (const auto& [key, rec] : names) {
      FileTag tag;
      tag.name = key.substr(0, key.find_last_not_of(' ') + 1);
      tag.header = uint32_t(rec);
      headers.insert(tag.header);
      if (size_t(rec) + 1024 > b_.size()) return Fail(image, "tag header beyond the file");
      tag.root = Le32(b_, rec);
      tag.keyLen = int(Le16(b_, rec + 12));
      tag.typeCode = uint8_t(b_[rec + 14]);
      tag.descending = Le16(b_, rec + 502) != 0;
      unsigned filterPos = Le16(b_, rec + 504), exprLen = Le16(b_, rec + 510);
      tag.expression = b_.substr(rec + 512, exprLen ? exprLen - 1 : 0);
      if (tag.typeCode & 0x08) tag.filter = std::string(b_.c_str() + rec + 512 + filterPos);
      // Blank pads belong to character keys without collation.
      char pad = blankTags.count(tag.name) ? ' ' : '\0';
      if (!Walk(tag.root, tag.keyLen, pad, &tag.entries, &image)) return image;
      image.tags.push_back(std::move(tag));
    }
    for (uint32_t at = Le32(b_, 4); at != 0 && at != 0xFFFFFFFF; at = Le32(b_, at)) {
      if (at + bs_ > b_.size() || !image.freeList.insert(at).second) return Fail(image, "bad free list");
    }
    // Every block-size step after the headers belongs to a tree or the list.
    uint32_t first = 1024;
    while (headers.count(first)) first += 1024;
    for (uint32_t at = first; at + bs_ <= b_.size();) {
      if (headers.count(at)) {
        at += 512 + bs_;
        continue;
      }
      if (!image.reached.count(at) && !image.freeList.count(at)) image.unaccounted.push_back(at);
      at += bs_;
    }
    return image;
  }

  // The tags whose keys are character keys without collation (blank pad).
  std::set<std::string> blankTags;

 private:
  FileImage& Fail(FileImage& image, const std::string& why) {
    image.error = why;
    return image;
  }

  bool Walk(uint32_t pos, int keyLen, char pad, Entries* out, FileImage* image) {
    if (pos + bs_ > b_.size() || pos < 512) return Fail(*image, "block beyond the file").error.empty();
    if (!image->reached.insert(pos).second) return Fail(*image, "block reached twice").error.empty();
    const size_t at = pos;
    unsigned attribute = Le16(b_, at), n = Le16(b_, at + 2);
    if (attribute < 2) {
      for (unsigned i = 0; i < n; i++) {
        size_t e = at + 12 + i * (keyLen + 8);
        size_t before = out->size();
        if (!Walk(Be32(b_, e + keyLen + 4), keyLen, pad, out, image)) return false;
        // A branch entry holds its subtree's last entry.
        if (out->size() == before || out->back().first != b_.substr(e, keyLen) ||
            out->back().second != long(Be32(b_, e + keyLen))) {
          return Fail(*image, "branch entry is not its subtree's last").error.empty();
        }
      }
      return true;
    }
    unsigned recBits = uint8_t(b_[at + 20]), dupBits = uint8_t(b_[at + 21]), trailBits = uint8_t(b_[at + 22]);
    unsigned info = uint8_t(b_[at + 23]);
    size_t end = at + bs_;
    std::string previous;
    for (unsigned i = 0; i < n; i++) {
      uint64_t v = 0;
      for (unsigned k = info; k-- > 0;) v = v << 8 | uint8_t(b_[at + 24 + i * info + k]);
      long rec = long(v & ((uint64_t(1) << recBits) - 1));
      unsigned dup = unsigned(v >> recBits) & ((1u << dupBits) - 1);
      unsigned trail = unsigned(v >> (recBits + dupBits)) & ((1u << trailBits) - 1);
      if (dup + trail > unsigned(keyLen)) return Fail(*image, "bad counts").error.empty();
      unsigned stored = unsigned(keyLen) - dup - trail;
      end -= stored;
      std::string key = previous.substr(0, dup) + b_.substr(end, stored) + std::string(trail, pad);
      out->emplace_back(key, rec);
      previous = key;
    }
    return true;
  }

  std::string b_;
  unsigned bs_ = 512;
};

}  // namespace xbasetest
