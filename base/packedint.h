// The packed integer stream: a sequence of signed 32-bit values stored as
// 4-bit delta codes, with a checkpoint at every 128th value so that a reader
// can reach any value without decoding everything before it. Boundary files,
// attribute-file pages and ZIP+4 files hold such streams; the containers store
// each stream's start and byte length. Files written by one program are read
// by another, so the bytes below are fixed.
//
// Nibbles go two to a byte, the earlier one in the high half. A parameter of
// several nibbles is written most significant nibble first. An unused low half
// of a part's last byte is 0.
//
// A stream of T bytes (T <= 65535):
//   byte 0          L, the checkpoint part's length in bytes, byte 0 included
//   bytes 1..L-1    checkpoint entries, one per block boundary the stream reaches
//   bytes L..T-1    main part: one code per value, or per run of values
//
// Main-part codes (state: value V, last delta D, pending repeats R, all 0 at
// the start; while R > 0 a value is V + D and takes no code):
//   0 +0   1 +1   2 +2   3 -1   4 -2
//   5 n    p + 3             6 n    p - 18
//   7 nn   p + 19            8 nn   p - 274
//   9 nnn  p - 2048          10 4n  p - 32768        11 6n  p - 8388608
//   12 8n  V = p (absolute), delta 0
//   13 n   D again, then R = p   14 nn  D again, then R = p + 15   15  D again
// after which V = V + delta and D = delta. Arithmetic wraps at 32 bits.
//
// Blocks: boundary k (k >= 1) lies before the value with index 128k - 1, the
// checkpoint value of that boundary. Its entry:
//   0        no checkpoint here (the value is decoded sequentially)
//   1 nnn    G = q
//   2, 3     G unchanged
//   4-7 n    G += (c & 3) * 16 + q      8-11 n   G -= (c & 3) * 16 + q
//   12-15 nn G = (c & 3) * 256 + q
// G is the distance in main-part nibbles from the previous checkpoint value's
// code (the first time: from the main part's start) to this checkpoint value's
// code. At a checkpoint V and D are reset to the base value and base delta: the
// value and delta decoded at the previous checkpoint (the first time: value 0
// and delta 0). A 0 entry leaves the base where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/endian.h"

// The longest stream a container accepts; callers stop adding values beyond it.
inline constexpr size_t kPackedStreamMaxBytes = 65525;
// What a reader's 16-bit length can hold.
inline constexpr size_t kPackedStreamLengthLimit = 65535;
// Byte 0 states the checkpoint part's length, so a part beyond this cannot be
// joined into a stream; its caller stores the values some other way.
inline constexpr size_t kPackedCheckpointMaxBytes = 255;
inline constexpr int32_t kPackedBlockValues = 128;

// Writes one stream as its two parts, the checkpoint part (whose byte 0 is
// left 0 for the joiner) and the main part. The writer never writes past its
// buffers: a value that does not fit is refused whole.
class PackedIntWriter {
 public:
  // Both parts get a buffer of bufferSize bytes.
  explicit PackedIntWriter(uint16_t bufferSize);
  ~PackedIntWriter();
  PackedIntWriter(const PackedIntWriter&) = delete;
  PackedIntWriter& operator=(const PackedIntWriter&) = delete;

  // Empties both parts and clears every counter and remembered value.
  void Reset();

  // Appends one value; returns by how many bytes the two parts together grew
  // (0 or more), or -1 when a part would outgrow its buffer. A refused value
  // leaves the stream as it was and marks the writer overflowed: it refuses
  // every further value until Reset or ReturnToMark.
  int32_t Put(int32_t value);

  // Saves the stream's state; ReturnToMark drops every value put since, so
  // that the parts are byte for byte what they were at the mark. Without a
  // Mark since the last Reset, ReturnToMark returns to the empty stream.
  void Mark();
  void ReturnToMark();

  const uint8_t* CheckpointPart() const { return checkpoint_.get(); }
  size_t CheckpointBytes() const { return (state_.checkpointNibbles + 1) / 2; }
  const uint8_t* MainPart() const { return main_.get(); }
  size_t MainBytes() const { return (state_.mainNibbles + 1) / 2; }
  size_t TotalBytes() const { return CheckpointBytes() + MainBytes(); }
  // True once the checkpoint part is too long to be stated in byte 0.
  bool CheckpointPartTooLong() const { return CheckpointBytes() > kPackedCheckpointMaxBytes; }
  bool Overflowed() const { return state_.overflowed; }
  int32_t Count() const { return state_.count; }
  int32_t FirstValue() const { return static_cast<int32_t>(state_.firstValue); }
  uint16_t BufferSize() const { return bufferSize_; }

  // Writes the stream (checkpoint part with byte 0 set to its length, then the
  // main part) to out; returns its length in bytes (0 for no values), or -1
  // when the checkpoint part is too long, the stream is longer than 65535
  // bytes or it does not fit capacity.
  int32_t Join(uint8_t* out, size_t capacity) const;

 private:
  // Everything a Put changes besides the bytes; Mark copies it.
  struct State {
    uint32_t mainNibbles = 0;
    uint32_t checkpointNibbles = 0;
    uint32_t baseValue = 0;
    uint32_t baseDelta = 0;
    uint32_t distance = 0;          // G of the last checkpoint taken
    uint32_t mainAtCheckpoint = 0;  // main nibbles when it was taken
    uint32_t previousValue = 0;
    uint32_t previousDelta = 0;
    int32_t runLength = 0;
    int32_t count = 0;
    uint32_t firstValue = 0;
    bool overflowed = false;
  };
  // A Put may rewrite up to three nibbles before the end of the main part (a
  // run's code) and the low half of the checkpoint part's last byte; a mark
  // keeps those bytes beside the state.
  struct Saved {
    State state;
    uint32_t mainByte = 0;
    uint8_t mainBytes[2] = {0, 0};
    uint32_t checkpointByte = 0;
    uint8_t checkpointByteValue = 0;
  };

  static void WriteNibbles(uint8_t* buffer, uint32_t at, uint64_t bits, unsigned count);

  uint16_t bufferSize_;
  std::unique_ptr<uint8_t[]> main_;
  std::unique_ptr<uint8_t[]> checkpoint_;
  State state_;
  Saved mark_;
};

// Returns the values of one stream by index. The reader never reads outside
// the bytes it was attached to: a checkpoint part or distance that points
// outside the stream, a code cut off by the stream's end, or an index beyond
// the values the stream holds sets Failed() and makes Get return 0 until the
// next Attach. (The 0 low half that ends an odd main part reads as one more
// value with delta 0, as the format cannot tell it from one.) Decoding
// allocates nothing.
class PackedIntReader {
 public:
  PackedIntReader() = default;

  // Positions the reader at the stream of length bytes at start; returns
  // start + length. A length above 65535, or a byte 0 that is 0 or points past
  // the stream, fails at once.
  const uint8_t* Attach(const uint8_t* start, size_t length);

  // The value with index n (0-based); 0 for an empty stream. Increasing
  // indexes decode forward from where the reader stands; a smaller index
  // starts again from the stream's start.
  int32_t Get(int32_t n);

  bool Failed() const { return failed_; }
  size_t Length() const { return length_; }

 private:
  int32_t GetSlow(int32_t n);
  void Restart();
  int32_t Fail();
  // 16 nibbles of the stream from nibble index at, at on top, zeros past the
  // stream's end.
  uint64_t Window(uint32_t at) const;
  // Decodes the code whose window is w and moves the main cursor past it.
  void Apply(uint64_t w);
  bool DecodeCode();
  void TakeRepeats(uint32_t target);
  // Reads entries up to boundary `target`; true when a checkpoint was reached.
  bool ReadEntries(uint32_t target, bool* failed);

  static constexpr uint8_t kParameterNibbles[16] = {0, 0, 0, 0, 0, 1, 1, 2, 2, 3, 4, 6, 8, 1, 2, 0};
  static constexpr uint32_t kBias[16] = {0u,
                                         1u,
                                         2u,
                                         uint32_t(-1),
                                         uint32_t(-2),
                                         3u,
                                         uint32_t(-18),
                                         19u,
                                         uint32_t(-274),
                                         uint32_t(-2048),
                                         uint32_t(-32768),
                                         uint32_t(-8388608),
                                         0u,
                                         0u,
                                         0u,
                                         0u};

  const uint8_t* start_ = nullptr;
  uint32_t length_ = 0;
  uint32_t mainEnd_ = 0;        // in nibbles from the stream's start
  uint32_t fastLimit_ = 0;      // main cursors below it can load 8 bytes
  uint32_t checkpointEnd_ = 0;  // in nibbles
  uint32_t value_ = 0;
  uint32_t delta_ = 0;
  uint32_t repeats_ = 0;
  uint32_t count_ = 0;           // values decoded so far
  uint32_t main_ = 0;            // main cursor, in nibbles
  uint32_t entryCursor_ = 0;     // checkpoint cursor, in nibbles
  uint32_t entries_ = 0;         // boundaries whose entries were read
  uint32_t checkpointMain_ = 0;  // main cursor at the last checkpoint's code
  int32_t distance_ = 0;
  uint32_t baseValue_ = 0;
  uint32_t baseDelta_ = 0;
  bool failed_ = false;
};

inline void PackedIntReader::Apply(uint64_t w) {
  const unsigned code = static_cast<unsigned>(w >> 60);
  const unsigned nibbles = kParameterNibbles[code];
  // The parameter's nibbles follow the code; with none the shift by 32 of a
  // 32-bit quantity held in 64 bits gives 0.
  const uint32_t p = static_cast<uint32_t>(((w << 4) >> 32) >> (32 - 4 * nibbles));
  main_ += 1 + nibbles;
  if (code < 12) {
    delta_ = p + kBias[code];
    value_ += delta_;
  } else if (code == 12) {
    value_ = p;
    delta_ = 0;
  } else {
    value_ += delta_;
    repeats_ = code == 13 ? p : code == 14 ? p + 15 : 0;
  }
}

inline int32_t PackedIntReader::Get(int32_t n) {
  // The next value inside a block, not the first: no checkpoint to look at.
  if (static_cast<uint32_t>(n) == count_ && count_ > 0 && ((count_ + 1) & 127) != 0 && !failed_) {
    if (repeats_ > 0) {
      --repeats_;
      value_ += delta_;
      ++count_;
      return static_cast<int32_t>(value_);
    }
    if (main_ < fastLimit_) {
      Apply(QLoadU64BE(start_ + (main_ >> 1)) << ((main_ & 1) * 4));
      ++count_;
      return static_cast<int32_t>(value_);
    }
  }
  return GetSlow(n);
}
