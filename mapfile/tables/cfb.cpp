// The compound-document stream locator (cfb.h).
#include "mapfile/tables/cfb.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/endian.h"

namespace layerio {

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr size_t kHeaderSize = 512;
constexpr int kHeaderDifatEntries = 109;
constexpr size_t kDirEntrySize = 128;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;

class Container {
 public:
  Container(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  CfbResult Load() {
    if (!CfbIsCompound(bytes_, size_)) return CfbResult::kNotCompound;
    if (size_ < kHeaderSize) return CfbResult::kDamaged;
    const uint8_t* h = bytes_;
    const uint16_t shift = QLoadU16LE(h + 0x1E);
    const uint16_t miniShift = QLoadU16LE(h + 0x20);
    if (QLoadU16LE(h + 0x1C) != 0xFFFE || (shift != 9 && shift != 12) || miniShift != 6)
      return CfbResult::kDamaged;
    sector_ = size_t(1) << shift;
    miniSector_ = size_t(1) << miniShift;
    // Sectors that lie wholly inside the file; a chain naming another one
    // is damaged.
    sectorCount_ = size_ > sector_ ? (size_ - sector_) / sector_ : 0;
    // A last sector cut short by a truncated copy still counts: its bytes
    // are checked where they are read.
    if (size_ > sector_ && (size_ - sector_) % sector_) ++sectorCount_;
    miniCutoff_ = QLoadU32LE(h + 0x38);
    const uint32_t fatSectors = QLoadU32LE(h + 0x2C);
    const uint32_t firstDir = QLoadU32LE(h + 0x30);
    const uint32_t firstMiniFat = QLoadU32LE(h + 0x3C);
    const uint32_t miniFatSectors = QLoadU32LE(h + 0x40);
    uint32_t difat = QLoadU32LE(h + 0x44);
    const uint32_t difatSectors = QLoadU32LE(h + 0x48);
    if (fatSectors > sectorCount_ || difatSectors > sectorCount_) return CfbResult::kDamaged;

    // The allocation table's sectors: 109 in the header, the rest in the
    // chain of extension sectors, each ending with the next one's number.
    std::vector<uint32_t> fatList;
    fatList.reserve(fatSectors);
    for (int i = 0; i < kHeaderDifatEntries && fatList.size() < fatSectors; ++i)
      fatList.push_back(QLoadU32LE(h + 0x4C + 4 * i));
    const size_t perDifat = sector_ / 4 - 1;
    for (uint32_t n = 0; fatList.size() < fatSectors; ++n) {
      if (n >= difatSectors || difat >= sectorCount_) return CfbResult::kDamaged;
      const uint8_t* s = Sector(difat);
      if (!s) return CfbResult::kDamaged;
      for (size_t i = 0; i < perDifat && fatList.size() < fatSectors; ++i)
        fatList.push_back(QLoadU32LE(s + 4 * i));
      difat = QLoadU32LE(s + 4 * perDifat);
    }
    fat_.reserve(fatList.size() * (sector_ / 4));
    for (uint32_t f : fatList) {
      const uint8_t* s = Sector(f);
      if (!s) return CfbResult::kDamaged;
      for (size_t i = 0; i < sector_ / 4; ++i) fat_.push_back(QLoadU32LE(s + 4 * i));
    }

    if (!ReadChain(firstDir, SIZE_MAX, &dir_)) return CfbResult::kDamaged;
    if (dir_.size() < kDirEntrySize) return CfbResult::kDamaged;
    if (miniFatSectors > 0 && firstMiniFat != kEndOfChain) {
      std::vector<uint8_t> raw;
      if (!ReadChain(firstMiniFat, SIZE_MAX, &raw)) return CfbResult::kDamaged;
      miniFat_.reserve(raw.size() / 4);
      for (size_t i = 0; i + 4 <= raw.size(); i += 4) miniFat_.push_back(QLoadU32LE(raw.data() + i));
    }
    return CfbResult::kOk;
  }

  CfbResult Find(const char* const* names, int count, std::vector<uint8_t>* out) {
    const size_t entries = dir_.size() / kDirEntrySize;
    for (int n = 0; n < count; ++n) {
      for (size_t e = 0; e < entries; ++e) {
        const uint8_t* d = dir_.data() + e * kDirEntrySize;
        if (d[66] != kTypeStream || !NameIs(d, names[n])) continue;
        return ReadStream(d, out);
      }
    }
    return CfbResult::kNoStream;
  }

 private:
  // The bytes of a sector, or null when it lies outside the file or is cut
  // short.
  const uint8_t* Sector(uint32_t n) const {
    if (n >= sectorCount_) return nullptr;
    const size_t at = (size_t(n) + 1) * sector_;
    if (at + sector_ > size_) return nullptr;
    return bytes_ + at;
  }

  // Appends the sectors of the chain from `first` until `limit` bytes are
  // had or the chain ends; a loop or an entry outside the table fails.
  bool ReadChain(uint32_t first, size_t limit, std::vector<uint8_t>* out) const {
    out->clear();
    if (limit != SIZE_MAX) out->reserve(limit + sector_);
    uint32_t s = first;
    size_t steps = 0;
    while (s != kEndOfChain && out->size() < limit) {
      if (s > kMaxRegularSector || s >= fat_.size() || ++steps > fat_.size()) return false;
      const uint8_t* p = Sector(s);
      if (!p) return false;
      out->insert(out->end(), p, p + sector_);
      s = fat_[s];
    }
    return true;
  }

  bool NameIs(const uint8_t* d, const char* name) const {
    const uint16_t bytes = QLoadU16LE(d + 64);
    if (bytes < 2 || bytes > 64 || bytes % 2) return false;
    const size_t chars = bytes / 2 - 1;
    if (std::strlen(name) != chars) return false;
    for (size_t i = 0; i < chars; ++i) {
      uint16_t c = QLoadU16LE(d + 2 * i);
      unsigned want = static_cast<unsigned char>(name[i]);
      if (c >= 'a' && c <= 'z') c = uint16_t(c - 32);
      if (want >= 'a' && want <= 'z') want -= 32;
      if (c != want) return false;
    }
    return true;
  }

  CfbResult ReadStream(const uint8_t* d, std::vector<uint8_t>* out) {
    // Version 3 containers leave the high half of the size undefined.
    const uint64_t high = sector_ == 512 ? 0 : uint64_t(QLoadU32LE(d + 124)) << 32;
    const uint64_t size64 = uint64_t(QLoadU32LE(d + 120)) | high;
    if (size64 > size_) return CfbResult::kDamaged;  // a stream never outgrows its container
    const size_t size = size_t(size64);
    const uint32_t start = QLoadU32LE(d + 116);
    if (size < miniCutoff_) {
      // Small streams live in the mini-stream: the root entry's chain, cut
      // into 64-byte pieces chained by the mini table.
      const uint8_t* root = dir_.data();
      if (root[66] != kTypeRoot) return CfbResult::kDamaged;
      if (mini_.empty()) {
        const uint64_t miniSize = QLoadU32LE(root + 120);
        if (miniSize > size_) return CfbResult::kDamaged;
        if (!ReadChain(QLoadU32LE(root + 116), size_t(miniSize), &mini_)) return CfbResult::kDamaged;
        if (mini_.size() < miniSize) return CfbResult::kDamaged;
      }
      out->clear();
      out->reserve(size);
      uint32_t s = start;
      size_t steps = 0;
      while (out->size() < size) {
        if (s >= miniFat_.size() || ++steps > miniFat_.size()) return CfbResult::kDamaged;
        const size_t at = size_t(s) * miniSector_;
        if (at + miniSector_ > mini_.size()) return CfbResult::kDamaged;
        const size_t take = std::min(miniSector_, size - out->size());
        out->insert(out->end(), mini_.begin() + long(at), mini_.begin() + long(at + take));
        s = miniFat_[s];
      }
      return CfbResult::kOk;
    }
    out->reserve(size);
    if (!ReadChain(start, size, out) || out->size() < size) return CfbResult::kDamaged;
    out->resize(size);
    return CfbResult::kOk;
  }

  const uint8_t* bytes_;
  size_t size_;
  size_t sector_ = 512;
  size_t miniSector_ = 64;
  size_t sectorCount_ = 0;
  uint32_t miniCutoff_ = 4096;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> miniFat_;
  std::vector<uint8_t> dir_;
  std::vector<uint8_t> mini_;
};

}  // namespace

bool CfbIsCompound(const uint8_t* bytes, size_t size) {
  return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

CfbResult CfbReadStream(const uint8_t* bytes, size_t size, const char* const* names, int count,
                        std::vector<uint8_t>* out) {
  Container c(bytes, size);
  CfbResult r = c.Load();
  if (r != CfbResult::kOk) return r;
  return c.Find(names, count, out);
}

}  // namespace layerio
