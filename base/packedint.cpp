#include "base/packedint.h"

#include <algorithm>

namespace {

// Nibbles of the code of one run, by the run's length.
unsigned RunCodeNibbles(int32_t runLength) {
  if (runLength <= 0) return 0;
  if (runLength == 1) return 1;
  if (runLength <= 16) return 2;
  return 3;
}

constexpr int32_t kLongestRun = 271;
// A run this long going on through a boundary saves its checkpoint.
constexpr int32_t kRunThatSkipsCheckpoint = 33;
// Checkpoint distances have 12 bits at most.
constexpr uint32_t kDistanceLimit = 4096;
// The longest code of one value: code 12 and its 8 nibbles.
constexpr uint32_t kLongestCodeNibbles = 9;

// The main-part code of delta d (the value itself for code 12), as nibbles
// with the code on top. Code 12 leaves d counting as 0.
struct Code {
  uint64_t bits;
  unsigned nibbles;
};

Code EncodeDelta(uint32_t* delta, uint32_t value) {
  const int32_t d = static_cast<int32_t>(*delta);
  auto with = [](uint64_t code, unsigned parameterNibbles, int64_t parameter) {
    return Code{(code << (4 * parameterNibbles)) | static_cast<uint64_t>(parameter),
                1 + parameterNibbles};
  };
  switch (d) {
    case 0:
      return {0, 1};
    case 1:
      return {1, 1};
    case 2:
      return {2, 1};
    case -1:
      return {3, 1};
    case -2:
      return {4, 1};
    default:
      break;
  }
  if (d >= 3 && d <= 18) return with(5, 1, d - 3);
  if (d >= -18 && d <= -3) return with(6, 1, d + 18);
  if (d >= 19 && d <= 274) return with(7, 2, d - 19);
  if (d >= -274 && d <= -19) return with(8, 2, d + 274);
  if (d >= -2048 && d <= 2047) return with(9, 3, int64_t(d) + 2048);
  if (d >= -32768 && d <= 32767) return with(10, 4, int64_t(d) + 32768);
  if (d >= -8388608 && d <= 8388607) return with(11, 6, int64_t(d) + 8388608);
  *delta = 0;
  return with(12, 8, value);
}

// The code of a run of runLength values repeating the last delta.
Code EncodeRun(int32_t runLength) {
  if (runLength == 1) return {15, 1};
  if (runLength <= 16) return {(13u << 4) | uint32_t(runLength - 1), 2};
  return {(14u << 8) | uint32_t(runLength - 16), 3};
}

// The entry of a checkpoint whose distance is next after one of previous.
Code EncodeEntry(uint32_t next, uint32_t previous) {
  const int64_t change = int64_t(next) - int64_t(previous);
  if (change >= 0 && change <= 63)
    return {((4 + uint64_t(change) / 16) << 4) | uint64_t(change) % 16, 2};
  if (change >= -63 && change < 0) {
    return {((8 + uint64_t(-change) / 16) << 4) | uint64_t(-change) % 16, 2};
  }
  if (next < 1024) return {((12 + uint64_t(next) / 256) << 8) | next % 256, 3};
  // Below 4096: Put never lets a distance grow further.
  return {(1u << 12) | next, 4};
}

}  // namespace

PackedIntWriter::PackedIntWriter(uint16_t bufferSize)
    : bufferSize_(bufferSize),
      main_(new uint8_t[std::max<size_t>(bufferSize, 1)]()),
      checkpoint_(new uint8_t[std::max<size_t>(bufferSize, 1)]()) {
  Reset();
}

PackedIntWriter::~PackedIntWriter() = default;

void PackedIntWriter::Reset() {
  state_ = State{};
  mark_ = Saved{};
}

void PackedIntWriter::WriteNibbles(uint8_t* buffer, uint32_t at, uint64_t bits, unsigned count) {
  for (unsigned i = 0; i < count; ++i, ++at) {
    const uint8_t nibble = static_cast<uint8_t>((bits >> (4 * (count - 1 - i))) & 0xF);
    uint8_t& byte = buffer[at >> 1];
    // A high half starts a fresh byte, so the low half left behind is 0.
    byte = (at & 1) ? uint8_t((byte & 0xF0) | nibble) : uint8_t(nibble << 4);
  }
}

int32_t PackedIntWriter::Put(int32_t value) {
  if (state_.overflowed) return -1;
  State next = state_;
  const uint32_t v = static_cast<uint32_t>(value);
  uint32_t d = v - next.previousValue;
  const bool first = next.count == 0;
  if (first) next.baseValue = v;

  // At a checkpoint value the code is made against the base, unless a long
  // run of equal deltas goes on through the boundary. Skipping is refused
  // when the next block's codes could push the next distance out of 12 bits.
  const bool boundary = (next.count + 1) % kPackedBlockValues == 0;
  bool checkpoint = false;
  uint32_t distance = next.distance;
  if (boundary) {
    const uint32_t sinceCheckpoint = next.mainNibbles - next.mainAtCheckpoint;
    const bool roomToSkip =
        sinceCheckpoint + (kPackedBlockValues - 1) * kLongestCodeNibbles < kDistanceLimit;
    if (d != next.previousDelta || next.runLength < kRunThatSkipsCheckpoint || !roomToSkip) {
      checkpoint = true;
      next.runLength = 0;
      next.previousDelta = next.baseDelta;
      distance = next.mainNibbles - next.mainAtCheckpoint;
      next.mainAtCheckpoint = next.mainNibbles;
      next.previousValue = next.baseValue;
      d = v - next.baseValue;
    }
  }

  // Main part: a new delta gets its own code; a repeated one joins the run,
  // whose code is taken back and written again one longer.
  Code code;
  uint32_t mainAt = next.mainNibbles;
  if (d != next.previousDelta) {
    next.runLength = 0;
    code = EncodeDelta(&d, v);
  } else {
    mainAt -= RunCodeNibbles(next.runLength);
    ++next.runLength;
    code = EncodeRun(next.runLength);
    if (next.runLength == kLongestRun) next.runLength = 0;
  }
  next.previousDelta = d;
  next.previousValue = v;
  next.mainNibbles = mainAt + code.nibbles;

  // Checkpoint part: the place of byte 0 comes with the first value.
  const uint32_t checkpointAt = next.checkpointNibbles + (first ? 2 : 0);
  Code entry{0, 0};
  if (boundary) {
    if (checkpoint) {
      next.baseDelta = d;
      next.baseValue = v;
      entry = EncodeEntry(distance, next.distance);
      next.distance = distance;
    } else {
      entry = {0, 1};
    }
  }
  next.checkpointNibbles = checkpointAt + entry.nibbles;

  if ((next.mainNibbles + 1) / 2 > bufferSize_ || (next.checkpointNibbles + 1) / 2 > bufferSize_) {
    state_.overflowed = true;
    return -1;
  }
  if (first) {
    WriteNibbles(checkpoint_.get(), 0, 0, 2);
    next.firstValue = v;
  }
  WriteNibbles(main_.get(), mainAt, code.bits, code.nibbles);
  WriteNibbles(checkpoint_.get(), checkpointAt, entry.bits, entry.nibbles);
  ++next.count;

  const size_t before = TotalBytes();
  state_ = next;
  return static_cast<int32_t>(TotalBytes() - before);
}

void PackedIntWriter::Mark() {
  mark_.state = state_;
  const uint32_t mainNibbles = state_.mainNibbles;
  mark_.mainByte = mainNibbles >= 3 ? (mainNibbles - 3) / 2 : 0;
  for (uint32_t i = 0; i < 2; ++i) {
    if (mark_.mainByte + i < bufferSize_) mark_.mainBytes[i] = main_[mark_.mainByte + i];
  }
  const uint32_t checkpointNibbles = state_.checkpointNibbles;
  mark_.checkpointByte = checkpointNibbles > 0 ? (checkpointNibbles - 1) / 2 : 0;
  if (mark_.checkpointByte < bufferSize_) {
    mark_.checkpointByteValue = checkpoint_[mark_.checkpointByte];
  }
}

void PackedIntWriter::ReturnToMark() {
  const Saved& saved = mark_;
  state_ = saved.state;
  for (uint32_t i = 0; i < 2; ++i) {
    if (saved.mainByte + i < bufferSize_) main_[saved.mainByte + i] = saved.mainBytes[i];
  }
  if (saved.checkpointByte < bufferSize_) {
    checkpoint_[saved.checkpointByte] = saved.checkpointByteValue;
  }
}

int32_t PackedIntWriter::Join(uint8_t* out, size_t capacity) const {
  if (state_.count == 0) return 0;
  const size_t checkpointBytes = CheckpointBytes();
  const size_t total = TotalBytes();
  if (checkpointBytes > kPackedCheckpointMaxBytes || total > kPackedStreamLengthLimit ||
      total > capacity) {
    return -1;
  }
  std::memcpy(out, checkpoint_.get(), checkpointBytes);
  out[0] = static_cast<uint8_t>(checkpointBytes);
  std::memcpy(out + checkpointBytes, main_.get(), MainBytes());
  return static_cast<int32_t>(total);
}

// --- reader ---

const uint8_t* PackedIntReader::Attach(const uint8_t* start, size_t length) {
  start_ = start;
  failed_ = false;
  length_ = 0;
  checkpointEnd_ = mainEnd_ = fastLimit_ = 0;
  if (length > kPackedStreamLengthLimit) {
    Fail();
  } else if (length > 0) {
    const uint32_t checkpointBytes = start[0];
    if (checkpointBytes == 0 || checkpointBytes > length) {
      Fail();
    } else {
      length_ = static_cast<uint32_t>(length);
      checkpointEnd_ = 2 * checkpointBytes;
      mainEnd_ = 2 * length_;
      fastLimit_ = length_ >= 8 ? 2 * (length_ - 8) + 2 : 0;
    }
  }
  Restart();
  return start + length;
}

void PackedIntReader::Restart() {
  value_ = delta_ = repeats_ = count_ = 0;
  baseValue_ = baseDelta_ = 0;
  distance_ = 0;
  entries_ = 0;
  entryCursor_ = 2;
  main_ = checkpointMain_ = checkpointEnd_;
}

int32_t PackedIntReader::Fail() {
  failed_ = true;
  return 0;
}

inline uint64_t PackedIntReader::Window(uint32_t at) const {
  const uint32_t byte = at >> 1;
  uint64_t w = 0;
  if (byte + 8 <= length_) {
    w = QLoadU64BE(start_ + byte);
  } else {
    for (uint32_t i = 0; i < 8 && byte + i < length_; ++i) {
      w |= uint64_t(start_[byte + i]) << (56 - 8 * i);
    }
  }
  return w << ((at & 1) * 4);
}

bool PackedIntReader::DecodeCode() {
  const uint64_t w = Window(main_);
  if (main_ + 1 + kParameterNibbles[w >> 60] > mainEnd_) return false;
  Apply(w);
  return true;
}

bool PackedIntReader::ReadEntries(uint32_t target, bool* failed) {
  static constexpr uint8_t kEntryParameterNibbles[16] = {0, 3, 0, 0, 1, 1, 1, 1,
                                                         1, 1, 1, 1, 2, 2, 2, 2};
  while (entries_ < target) {
    const uint64_t w = Window(entryCursor_);
    const unsigned code = static_cast<unsigned>(w >> 60);
    const unsigned nibbles = kEntryParameterNibbles[code];
    if (entryCursor_ + 1 + nibbles > checkpointEnd_) {
      *failed = true;
      return false;
    }
    entryCursor_ += 1 + nibbles;
    ++entries_;
    if (code == 0) continue;
    const int32_t q = static_cast<int32_t>(((w << 4) >> 32) >> (32 - 4 * nibbles));
    if (code == 1) {
      distance_ = q;
    } else if (code >= 4 && code <= 7) {
      distance_ += int32_t(code & 3) * 16 + q;
    } else if (code >= 8 && code <= 11) {
      distance_ -= int32_t(code & 3) * 16 + q;
    } else if (code >= 12) {
      distance_ = int32_t(code & 3) * 256 + q;
    }
    return true;
  }
  return false;
}

// Values of the pending run, as far as the target.
inline void PackedIntReader::TakeRepeats(uint32_t target) {
  const uint32_t m = std::min(target - count_, repeats_);
  repeats_ -= m;
  value_ += delta_ * m;
  count_ += m;
}

int32_t PackedIntReader::GetSlow(int32_t n) {
  if (failed_ || length_ == 0 || n < 0) return 0;
  const uint32_t target = static_cast<uint32_t>(n) + 1;
  if (target < count_) Restart();
  const uint32_t lastBoundary = target / kPackedBlockValues;
  while (count_ < target) {
    bool atCheckpoint = false;
    if (count_ > 0 && lastBoundary > entries_) {
      bool failed = false;
      atCheckpoint = ReadEntries(lastBoundary, &failed);
      if (failed) return Fail();
      if (atCheckpoint) {
        // The checkpoint value's code lies distance_ nibbles past the last
        // checkpoint's code; anything short of or beyond that is damage.
        const int64_t to = int64_t(checkpointMain_) + distance_;
        if (distance_ < 0 || to < int64_t(main_) || to >= int64_t(mainEnd_)) return Fail();
        main_ = checkpointMain_ = static_cast<uint32_t>(to);
        repeats_ = 0;
        delta_ = baseDelta_;
        value_ = baseValue_;
      }
    }
    if (repeats_ > 0) {
      TakeRepeats(target);
      continue;
    }
    if (!DecodeCode()) return Fail();
    if (count_ == 0) baseValue_ = value_;
    if (atCheckpoint) {
      baseDelta_ = delta_;
      baseValue_ = value_;
      count_ = kPackedBlockValues * entries_;
    } else {
      ++count_;
    }
    // No boundary lies before the target any more: decode without looking
    // for one, with whole-word loads while they stay inside the stream.
    if (count_ > 0 && entries_ == lastBoundary) {
      while (count_ < target) {
        if (repeats_ > 0) {
          TakeRepeats(target);
        } else if (main_ < fastLimit_) {
          Apply(QLoadU64BE(start_ + (main_ >> 1)) << ((main_ & 1) * 4));
          ++count_;
        } else {
          break;
        }
      }
    }
  }
  return static_cast<int32_t>(value_);
}
