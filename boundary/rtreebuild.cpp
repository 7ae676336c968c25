#include "boundary/rtreebuild.h"

#include <cmath>
#include <cstring>

#include "platform/endian.h"

namespace {

constexpr size_t kKeySize = 4;

// (a + b) / 2 of a 32-bit sum, truncated toward zero.
int32_t Midpoint(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)) / 2;
}

// Big-endian, so that the sort's byte order is the unsigned order.
void StoreKey(uint8_t* key, int32_t midpoint) {
  QStoreU32BE(key, static_cast<uint32_t>(midpoint));
}

GsbBounds EntryBounds(const uint8_t* entry) { return DecodeGsbEntry(entry).bounds; }

}  // namespace

rtIndexBuild::rtIndexBuild(QError& error, const std::string& directory)
    : error_(error), directory_(directory) {
  sort_ = NewSort();
}

rtIndexBuild::~rtIndexBuild() = default;

std::unique_ptr<QSort> rtIndexBuild::NewSort() {
  auto sort = std::make_unique<QSort>(error_, directory_);
  if (sort->IsValid()) sort->SetRecordLayout(kKeySize, kGsbPageEntrySize);
  return sort;
}

bool rtIndexBuild::Add(const GsbBounds& bounds, uint64_t offset) {
  ++count_;
  uint8_t key[kKeySize];
  uint8_t entry[kGsbPageEntrySize];
  StoreKey(key, Midpoint(bounds.xmin, bounds.xmax));
  EncodeGsbPageEntry({bounds, offset}, entry);
  return sort_ && sort_->Add(key, entry);
}

bool rtIndexBuild::WritePage(QioFile& output, const GsbPageHeader& header, const uint8_t* entries,
                             uint64_t* number) {
  EncodeGsbPage(header, entries, page_.get());
  if (!output.WriteAt(int64_t(nextPage_ * kGsbPageSize), kGsbPageSize, page_.get())) return false;
  *number = nextPage_++;
  return true;
}

bool rtIndexBuild::BuildLevel(QioFile& output, QSort& sort, uint64_t n, uint16_t level,
                              uint16_t flags, QSort& next, uint64_t* pages) {
  if (!sort.Finish()) return false;
  sort.ResetRead();
  const uint64_t slices = uint64_t(std::sqrt(double(n / kGsbPageEntriesMax)));
  const uint64_t sliceSize = n / slices;
  *pages = 0;

  for (uint64_t s = 0; s < slices; ++s) {
    const uint64_t take = s + 1 == slices ? n - s * sliceSize : sliceSize;
    std::unique_ptr<QSort> slice = NewSort();
    if (!slice->IsValid()) return false;
    for (uint64_t i = 0; i < take; ++i) {
      const uint8_t* record = sort.Next();
      if (!record) return false;
      const uint8_t* entry = record + kKeySize;
      GsbBounds b = EntryBounds(entry);
      uint8_t key[kKeySize];
      StoreKey(key, Midpoint(b.ymin, b.ymax));
      if (!slice->Add(key, entry)) return false;
    }
    if (!slice->Finish()) return false;
    slice->ResetRead();

    GsbPageHeader header;
    header.flags = flags;
    header.level = level;
    // Seals the page being filled and passes it up a level.
    auto seal = [&]() {
      uint64_t number = 0;
      if (!WritePage(output, header, entries_.get(), &number)) return false;
      uint8_t key[kKeySize];
      uint8_t entry[kGsbPageEntrySize];
      StoreKey(key, Midpoint(header.bounds.xmin, header.bounds.xmax));
      EncodeGsbPageEntry({header.bounds, number}, entry);
      ++*pages;
      header.count = 0;
      header.bounds = GsbBounds::EmptyPage();
      return next.Add(key, entry);
    };
    for (uint64_t i = 0; i < take; ++i) {
      const uint8_t* record = slice->Next();
      if (!record) return false;
      std::memcpy(entries_.get() + size_t(header.count) * kGsbPageEntrySize, record + kKeySize,
                  kGsbPageEntrySize);
      header.bounds.Include(EntryBounds(record + kKeySize));
      if (++header.count == kGsbPageEntriesMax && !seal()) return false;
    }
    if (header.count > 0 && !seal()) return false;
  }
  return true;
}

int32_t rtIndexBuild::Write(QioFile& output) {
  if (!sort_ || !sort_->IsValid()) return -1;
  page_.reset(new uint8_t[kGsbPageSize]);
  entries_.reset(new uint8_t[size_t(kGsbPageEntriesMax) * kGsbPageEntrySize]);
  if (!output.PadToMultiple(kGsbPageSize)) return -1;
  const int64_t end = output.Reserve(0);
  if (end < 0) return -1;
  nextPage_ = uint64_t(end) / kGsbPageSize;

  uint16_t level = 0;
  uint16_t flags = kGsbPageLeaf;
  uint64_t count = count_;
  while (count > kGsbPageEntriesMax) {
    std::unique_ptr<QSort> next = NewSort();
    if (!next->IsValid()) return -1;
    uint64_t pages = 0;
    if (!BuildLevel(output, *sort_, count, level, flags, *next, &pages)) return -1;
    sort_ = std::move(next);
    count = pages;
    ++level;
    flags = kGsbPageInner;
  }

  if (!sort_->Finish()) return -1;
  sort_->ResetRead();
  GsbPageHeader root;
  root.flags = uint16_t(flags | kGsbPageRoot);
  root.level = level;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* record = sort_->Next();
    if (!record) return -1;
    std::memcpy(entries_.get() + size_t(i) * kGsbPageEntrySize, record + kKeySize,
                kGsbPageEntrySize);
    root.bounds.Include(EntryBounds(record + kKeySize));
  }
  root.count = uint16_t(count);
  uint64_t number = 0;
  if (!WritePage(output, root, entries_.get(), &number)) return -1;
  sort_.reset();
  if (number > uint64_t(INT32_MAX)) return -1;
  return int32_t(number);
}
