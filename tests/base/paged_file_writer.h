// A test-side writer of paged files, byte by byte after the layout of
// base/pagefile.h: a header page and pages, each sealed with its check value.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/pagefile.h"

namespace testsupport {

class PagedFileImage {
 public:
  PagedFileImage(uint32_t signature, uint16_t headerPageSize, uint16_t pageSize, uint32_t pages)
      : headerPageSize_(headerPageSize), pageSize_(pageSize),
        bytes_(std::max(size_t(headerPageSize) + size_t(pages) * pageSize,
                        kQPagedHeaderRecordSize),
               0) {
    QStoreU32LE(&bytes_[kQPagedSignatureOffset], signature);
    QStoreU32LE(&bytes_[kQPagedPageCountOffset], pages);
    QStoreU16LE(&bytes_[kQPagedHeaderPageSizeOffset], headerPageSize);
    QStoreU16LE(&bytes_[kQPagedPageSizeOffset], pageSize);
    for (uint32_t n = 0; n < pages; ++n) Page(n)[0] = uint8_t(n + 1);  // tells pages apart
  }

  uint8_t* HeaderPage() { return bytes_.data(); }
  uint8_t* Page(uint32_t n) { return &bytes_[headerPageSize_ + size_t(n) * pageSize_]; }
  std::vector<uint8_t>& Bytes() { return bytes_; }
  void SetPageCount(uint32_t count) { QStoreU32LE(&bytes_[kQPagedPageCountOffset], count); }

  // Seals every whole page with its check value.
  PagedFileImage& Seal() {
    QPageSetCheckValue(HeaderPage(), headerPageSize_);
    for (size_t at = headerPageSize_; at + pageSize_ <= bytes_.size(); at += pageSize_)
      QPageSetCheckValue(&bytes_[at], pageSize_);
    return *this;
  }

  std::string Text() const { return std::string(bytes_.begin(), bytes_.end()); }

 private:
  uint16_t headerPageSize_;
  uint16_t pageSize_;
  std::vector<uint8_t> bytes_;
};

// Fills a keyed page: end offset at 0, count at 4, the entries (key then
// data, given in ascending order) stored downward from the end offset.
inline void PutKeyedPage(uint8_t* page, uint32_t pageSize, uint32_t keyLength,
                         uint32_t dataLength,
                         const std::vector<std::pair<std::string, std::string>>& entries) {
  uint32_t end = pageSize - 2;
  QStoreU32LE(page, end);
  QStoreU32LE(page + 4, uint32_t(entries.size()));
  uint32_t size = keyLength + dataLength;
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* entry = page + end - size * (i + 1);
    std::string key = entries[i].first, data = entries[i].second;
    key.resize(keyLength, '\0');
    data.resize(dataLength, '\0');
    std::copy(key.begin(), key.end(), entry);
    std::copy(data.begin(), data.end(), entry + keyLength);
  }
}

}  // namespace testsupport
