#include "base/packedint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;  // sanitizer builds run the property tests on fewer streams
#else
constexpr int kScale = 1;
#endif

using Values = std::vector<int32_t>;
using Bytes = std::vector<uint8_t>;

// "01 D2" -> {0x01, 0xD2}; an odd count of hex digits gets a 0 low half.
Bytes Hex(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  if (digits.size() % 2) digits += '0';
  Bytes bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

Values Arithmetic(int32_t first, int32_t step, int count) {
  Values values;
  for (int i = 0; i < count; ++i) values.push_back(first + step * i);
  return values;
}

Bytes Encode(const Values& values) {
  PackedIntWriter writer(65535);
  for (int32_t v : values) EXPECT_GE(writer.Put(v), 0);
  Bytes stream(writer.TotalBytes());
  EXPECT_EQ(writer.Join(stream.data(), stream.size()), static_cast<int32_t>(stream.size()));
  return stream;
}

// A copy of the stream in a heap block of exactly its size, so that a read
// past its end is caught by the address sanitizer.
struct ExactCopy {
  explicit ExactCopy(const Bytes& bytes)
      : data(new uint8_t[std::max<size_t>(bytes.size(), 1)]), size(bytes.size()) {
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
  }
  std::unique_ptr<uint8_t[]> data;
  size_t size;
};

// A second reading of the format, kept plain: decodes count values one after
// the other, applying every checkpoint, and checks that each checkpoint's
// distance lands on its code and that both parts end where they should.
struct ReferenceResult {
  Values values;
  int zeroEntries = 0;
  int checkpoints = 0;
  std::string error;
};

ReferenceResult ReferenceDecode(const Bytes& s, size_t count) {
  ReferenceResult r;
  if (s.empty()) return r;
  const size_t checkpointEnd = 2 * size_t(s[0]);
  const size_t mainEnd = 2 * s.size();
  size_t entryAt = 2;
  size_t mainAt = checkpointEnd;
  auto take = [&](size_t& at, size_t end, unsigned nibbles) -> uint32_t {
    uint32_t v = 0;
    for (unsigned i = 0; i < nibbles; ++i, ++at) {
      if (at >= end) {
        r.error = "read past a part's end";
        return 0;
      }
      v = (v << 4) | ((at & 1) ? s[at / 2] & 0xF : s[at / 2] >> 4);
    }
    return v;
  };
  uint32_t v = 0, d = 0, repeats = 0, baseValue = 0, baseDelta = 0;
  int64_t distance = 0;
  size_t lastCheckpoint = checkpointEnd;
  for (size_t i = 0; i < count && r.error.empty(); ++i) {
    bool atCheckpoint = false;
    if ((i + 1) % 128 == 0) {
      const uint32_t c = take(entryAt, checkpointEnd, 1);
      if (c == 0) {
        ++r.zeroEntries;
      } else {
        if (c == 1)
          distance = take(entryAt, checkpointEnd, 3);
        else if (c >= 4 && c <= 7)
          distance += (c & 3) * 16 + take(entryAt, checkpointEnd, 1);
        else if (c >= 8 && c <= 11)
          distance -= (c & 3) * 16 + take(entryAt, checkpointEnd, 1);
        else if (c >= 12)
          distance = (c & 3) * 256 + take(entryAt, checkpointEnd, 2);
        if (int64_t(mainAt - lastCheckpoint) != distance) r.error = "distance misses its code";
        if (repeats != 0) r.error = "a run crosses a checkpoint";
        lastCheckpoint = mainAt;
        v = baseValue;
        d = baseDelta;
        atCheckpoint = true;
        ++r.checkpoints;
      }
    }
    if (repeats > 0) {
      --repeats;
      v += d;
    } else {
      const uint32_t c = take(mainAt, mainEnd, 1);
      static const unsigned kNibbles[16] = {0, 0, 0, 0, 0, 1, 1, 2, 2, 3, 4, 6, 8, 1, 2, 0};
      static const int32_t kBias[16] = {0,    1,     2,      -1,       -2, 3, -18, 19,
                                        -274, -2048, -32768, -8388608, 0,  0, 0,   0};
      const uint32_t p = take(mainAt, mainEnd, kNibbles[c]);
      if (c <= 11) {
        d = p + uint32_t(kBias[c]);
        v += d;
      } else if (c == 12) {
        v = p;
        d = 0;
      } else {
        v += d;
        repeats = c == 13 ? p : c == 14 ? p + 15 : 0;
      }
    }
    if (i == 0) baseValue = v;
    if (atCheckpoint) {
      baseValue = v;
      baseDelta = d;
    }
    r.values.push_back(static_cast<int32_t>(v));
  }
  if (!r.error.empty()) return r;
  if (repeats != 0) r.error = "the last run is longer than the stream";
  auto ends = [&](size_t at, size_t end) {
    return at == end || (at + 1 == end && (s[at / 2] & 0xF) == 0);
  };
  if (!ends(mainAt, mainEnd)) r.error = "main part does not end at the stream's end";
  if (!ends(entryAt, checkpointEnd)) r.error = "checkpoint part does not end at byte L";
  return r;
}

// --- exact bytes ---

struct BytesCase {
  const char* name;
  Values values;
  std::string stream;
};

Values AlternatingThenRun(int alternating, int total) {
  // 1, then deltas +2, +1, ... (one-nibble codes, no runs), then +5 to the end.
  Values values{1};
  for (int i = 1; i < total; ++i) {
    const int32_t delta = i < alternating ? (i % 2 ? 2 : 1) : 5;
    values.push_back(values.back() + delta);
  }
  return values;
}

Values CheckpointDistances() {
  // Blocks of absolute jumps (9 nibbles each) around checkpoint values with
  // small deltas, so that distances take the 12-bit, +change and -change forms.
  Values v;
  auto jumps = [&](int from, int to, int32_t low, int32_t high) {
    for (int i = from; i <= to; ++i) v.push_back(i % 2 ? high : low);
  };
  v.push_back(0x40000000);
  jumps(1, 126, 0x40000000, 0);
  v.push_back(0x40000001);  // index 127: +1 from value 0
  jumps(128, 254, 1, 0x40000001);
  v.push_back(0x40000002);  // index 255: +1 from index 127, the base delta
  jumps(256, 379, 2, 0x40000002);
  v.push_back(0x40000003);
  v.push_back(0x40000005);
  v.push_back(0x40000006);
  v.push_back(0x40000002 + 1000);  // index 383
  return v;
}

TEST(PackedIntWriterTest, WritesTheseBytes) {
  const BytesCase cases[] = {
      {"zeros make one run", {0, 0, 0}, "01 D2"},
      {"code 9, +1, then the repeated +1", {1000, 1001, 1002}, "01 9BE8 1 F"},
      {"2048 needs code 10", {2048}, "01 A8800"},
      {"-2048 fits code 9", {-2048}, "01 9000"},
      {"0x7FFFFFFF after 0 is absolute", {0x7FFFFFFF}, "01 C7FFFFFFF"},
      {"every code at its bounds",
       {3,    21, 18,    0,  19,    293, 274,     0,  275,     0,       2047,    -1,
        2047, -2, 32765, -3, 32765, -4,  8388603, -5, 8388603, 8388603, 8388602, 8388600},
       "01 50 5F 6F 60 700 7FF 8FF 800 9913 96ED 9FFF 9000 A8800 A77FF AFFFF A0000"
       " B808000 B7F7FFF BFFFFFF B000000 C007FFFFB F 3 4"},
      {"a run of 16", Arithmetic(3, 3, 17), "01 50 DF"},
      {"a run of 17", Arithmetic(3, 3, 18), "01 50 E01"},
      // The run closes at 271 values; a new one starts with code 15. Both
      // boundaries fall inside the run: two 0 entries.
      {"7 then 300 values 5 apart", Arithmetic(7, 5, 301), "02 00 54 52 EFF E0C"},
      {"a run of 20 at index 127 takes a checkpoint", AlternatingThenRun(106, 128),
       "03 C6F0 1" + Repeat("21", 52) + "2 52 E04 7F9"},
      {"a run of 40 at index 127 saves it", AlternatingThenRun(86, 128),
       "02 00 1" + Repeat("21", 42) + "2 52 E19"},
      {"a run of 32 does not", AlternatingThenRun(94, 128),
       "03 C630 1" + Repeat("21", 46) + "2 52 E10 9936"},
      {"a run of 33 does", AlternatingThenRun(93, 128), "02 00 1" + Repeat("21", 46) + "52 E12"},
      {"distances of 1143, 1144 and 1120", CheckpointDistances(),
       "05 1477 4198 C40000000" + Repeat("C00000000C40000000", 63) + "1" +
           Repeat("C00000001C40000001", 63) + "C00000001" + "F" + Repeat("C00000002C40000002", 62) +
           "121" + "9BE8"},
  };
  for (const BytesCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = Encode(c.values);
    EXPECT_EQ(stream, Hex(c.stream));
    const ReferenceResult ref = ReferenceDecode(stream, c.values.size());
    EXPECT_EQ(ref.error, "");
    EXPECT_EQ(ref.values, c.values);
  }
}

TEST(PackedIntWriterTest, PutReportsGrowthAndKeepsCounts) {
  PackedIntWriter writer(64);
  EXPECT_EQ(writer.Put(0), 2);     // byte 0 of the checkpoint part and code 15
  EXPECT_EQ(writer.Put(0), 0);     // 15 becomes 13 1: the byte holds both nibbles
  EXPECT_EQ(writer.Put(1000), 2);  // 9 BE8 after D1
  EXPECT_EQ(writer.Count(), 3);
  EXPECT_EQ(writer.FirstValue(), 0);
  EXPECT_EQ(writer.CheckpointBytes(), 1u);
  EXPECT_EQ(writer.MainBytes(), 3u);
  writer.Reset();
  EXPECT_EQ(writer.Count(), 0);
  EXPECT_EQ(writer.TotalBytes(), 0u);
  uint8_t out[4];
  EXPECT_EQ(writer.Join(out, sizeof out), 0);
}

// --- reading ---

TEST(PackedIntReaderTest, EmptyStreamGivesZero) {
  PackedIntReader reader;
  const uint8_t byte = 0x55;
  EXPECT_EQ(reader.Attach(&byte, 0), &byte);
  EXPECT_EQ(reader.Get(0), 0);
  EXPECT_EQ(reader.Get(1000), 0);
  EXPECT_FALSE(reader.Failed());
}

TEST(PackedIntReaderTest, RandomOrderGivesTheSequentialValues) {
  Values values;  // deltas that never repeat: every boundary takes a checkpoint
  std::mt19937 random(7);
  for (int i = 0; i < 1000; ++i) values.push_back(int32_t(random() % 100000));
  const Bytes stream = Encode(values);
  ASSERT_EQ(ReferenceDecode(stream, values.size()).checkpoints, 7);
  const ExactCopy copy(stream);
  PackedIntReader reader;
  ASSERT_EQ(reader.Attach(copy.data.get(), copy.size), copy.data.get() + copy.size);
  EXPECT_EQ(reader.Get(999), values[999]);  // walking the checkpoints only
  reader.Attach(copy.data.get(), copy.size);
  EXPECT_EQ(reader.Get(127), values[127]);  // the first checkpoint value
  EXPECT_EQ(reader.Get(200), values[200]);
  EXPECT_EQ(reader.Get(5), values[5]);  // starts again
  EXPECT_EQ(reader.Get(6), values[6]);  // goes on
  EXPECT_EQ(reader.Get(6), values[6]);
  EXPECT_EQ(reader.Get(255), values[255]);
  EXPECT_EQ(reader.Get(256), values[256]);
  EXPECT_FALSE(reader.Failed());
}

TEST(PackedIntReaderTest, DamageIsReportedNotReadPast) {
  const Bytes run20 = Encode(AlternatingThenRun(106, 200));  // entry C6F at bytes 1-2
  const Bytes jumpy = [] {
    std::mt19937 random(1);
    Values values;
    for (int i = 0; i < 300; ++i) values.push_back(int32_t(random() % 100000));
    return Encode(values);
  }();
  auto patched = [](Bytes bytes, size_t at, std::initializer_list<uint8_t> with) {
    for (uint8_t b : with) bytes.at(at++) = b;
    return bytes;
  };
  struct Case {
    const char* name;
    Bytes stream;
    int32_t index;
  };
  const Case cases[] = {
      {"byte 0 is 0", Hex("00 D2"), 0},
      {"byte 0 beyond the stream", Hex("05 D2"), 0},
      {"code cut off by the end", Hex("01 C7FFFF"), 0},
      {"index beyond the values", Hex("01 D2"), 3},
      {"entry beyond the checkpoint part", Encode(Arithmetic(0, 1000, 100)), 150},
      {"distance beyond the stream", patched(run20, 1, {0xFF, 0xF0}), 150},
      {"distance short of where reading stands", patched(run20, 1, {0xC0, 0x00}), 150},
      {"negative distance", patched(run20, 1, {0x8F, 0x00}), 130},
      {"main part truncated", Bytes(jumpy.begin(), jumpy.end() - 20), 299},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ExactCopy copy(c.stream);
    PackedIntReader reader;
    reader.Attach(copy.data.get(), copy.size);
    for (int32_t i = 0; i <= c.index; ++i) reader.Get(i);  // sequential up to the damage
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.Get(0), 0);
    reader.Attach(copy.data.get(), copy.size);
    EXPECT_EQ(reader.Get(c.index), 0);  // straight to it
    EXPECT_TRUE(reader.Failed());
  }
  // A good stream reattached clears the failure.
  const ExactCopy good(run20);
  PackedIntReader reader;
  reader.Attach(good.data.get(), 3);
  reader.Get(150);
  EXPECT_TRUE(reader.Failed());
  reader.Attach(good.data.get(), good.size);
  EXPECT_EQ(reader.Get(150), AlternatingThenRun(106, 200)[150]);
  EXPECT_FALSE(reader.Failed());
  Bytes huge(70000, 1);
  reader.Attach(huge.data(), huge.size());
  EXPECT_TRUE(reader.Failed());
}

TEST(PackedIntReaderTest, RandomBytesNeverReadOutside) {
  std::mt19937 random(11);
  for (int round = 0; round < 20000 / kScale; ++round) {
    Bytes bytes(random() % 64);
    for (uint8_t& b : bytes) b = uint8_t(random());
    if (!bytes.empty()) bytes[0] = uint8_t(random() % (bytes.size() + 2));
    const ExactCopy copy(bytes);
    PackedIntReader reader;
    reader.Attach(copy.data.get(), copy.size);
    for (int i = 0; i < 8; ++i) reader.Get(int32_t(random() % 600));
  }
}

// --- the writer's limits ---

TEST(PackedIntWriterTest, ReportsACheckpointPartTooLongForByteZero) {
  // Deltas of a few hundred: three nibbles a value, and at least two nibbles
  // an entry for the 312 boundaries.
  PackedIntWriter writer(65535);
  std::mt19937 random(5);
  int32_t value = 0;
  for (int i = 0; i < 40000; ++i) {
    value += int32_t(random() % 549) - 274;
    ASSERT_GE(writer.Put(value), 0);
  }
  EXPECT_LE(writer.TotalBytes(), kPackedStreamMaxBytes);
  EXPECT_GT(writer.CheckpointBytes(), 300u);
  EXPECT_TRUE(writer.CheckpointPartTooLong());
  Bytes out(writer.TotalBytes());
  EXPECT_EQ(writer.Join(out.data(), out.size()), -1);
}

TEST(PackedIntWriterTest, NeverSkipsACheckpointItCouldNotReachAgain) {
  // Every boundary lies in a run of 81 equal deltas, and the rest of each
  // block is absolute jumps: skipping every checkpoint would put the next one
  // more than 4095 nibbles away after a few blocks.
  Values values;
  int32_t value = 0;
  for (int i = 0; i < 128 * 30; ++i) {
    const int inBlock = (i + 1) % 128;
    const bool inRun = inBlock <= 40 || inBlock >= 128 - 40;
    value = inRun ? value + 7 : (i % 2 ? 0x50000000 : -0x50000000);
    values.push_back(value);
  }
  const Bytes stream = Encode(values);
  const ReferenceResult ref = ReferenceDecode(stream, values.size());
  EXPECT_EQ(ref.error, "");
  EXPECT_EQ(ref.values, values);
  EXPECT_GT(ref.zeroEntries, 0);
  EXPECT_GT(ref.checkpoints, 0);
}

TEST(PackedIntWriterTest, RefusesWhatDoesNotFitItsBuffers) {
  std::mt19937 random(3);
  for (int round = 0; round < 400; ++round) {
    const uint16_t size = uint16_t(1 + random() % 300);
    PackedIntWriter writer(size);
    Values accepted;
    uint32_t value = 0;
    for (int i = 0; i < 5000; ++i) {
      value += uint32_t(random() % 3 == 0 ? random() : random() % 5);
      if (writer.Put(int32_t(value)) < 0) break;
      accepted.push_back(int32_t(value));
    }
    SCOPED_TRACE(size);
    ASSERT_TRUE(writer.Overflowed());
    EXPECT_EQ(writer.Put(0), -1);  // nothing more once refused
    EXPECT_LE(writer.MainBytes(), size);
    EXPECT_LE(writer.CheckpointBytes(), size);
    Bytes stream(writer.TotalBytes());
    ASSERT_EQ(writer.Join(stream.data(), stream.size()), int32_t(stream.size()));
    const ReferenceResult ref = ReferenceDecode(stream, accepted.size());
    EXPECT_EQ(ref.error, "");
    EXPECT_EQ(ref.values, accepted);
    if (!stream.empty()) {
      EXPECT_EQ(writer.Join(stream.data(), stream.size() - 1), -1);
    }
  }
}

TEST(PackedIntWriterTest, ReturnToMarkDropsWhatCameAfter) {
  std::mt19937 random(9);
  for (int round = 0; round < 300; ++round) {
    const Values kept = [&] {
      Values v;
      const int count = int(random() % 700);
      int32_t value = 0;
      for (int i = 0; i < count; ++i) {
        v.push_back(value += int32_t(random() % 4 == 0 ? 0 : random() % 40));
      }
      return v;
    }();
    const size_t markAt = random() % (kept.size() + 1);
    PackedIntWriter marked(4096);
    for (size_t i = 0; i < markAt; ++i) marked.Put(kept[i]);
    marked.Mark();
    // A detour that first goes on with the last delta, rewriting the code of
    // the run written before the mark, and then wanders, across boundaries.
    uint32_t last = markAt ? uint32_t(kept[markAt - 1]) : 0;
    const uint32_t step = markAt > 1 ? last - uint32_t(kept[markAt - 2]) : last;
    for (int i = 0, n = int(random() % 300); i < n; ++i) {
      last += i < n / 2 ? step : uint32_t(random() % 50);
      marked.Put(int32_t(last));
    }
    marked.ReturnToMark();
    for (size_t i = markAt; i < kept.size(); ++i) marked.Put(kept[i]);
    SCOPED_TRACE(round);
    Bytes stream(marked.TotalBytes());
    ASSERT_EQ(marked.Join(stream.data(), stream.size()), int32_t(stream.size()));
    EXPECT_EQ(stream, Encode(kept));
  }
  // Returning to a full writer's mark lets it take values again.
  PackedIntWriter writer(2);
  writer.Put(5);
  writer.Mark();
  while (writer.Put(int32_t(random())) >= 0) {
  }
  writer.ReturnToMark();
  EXPECT_FALSE(writer.Overflowed());
  EXPECT_EQ(writer.Put(6), 1);
}

// --- property: random streams read back every way ---

// A random sequence built of stretches of one kind each, the kinds that make
// every code, runs across boundaries and the longest runs.
// Kinds: 0-5 deltas of growing size, 6 absolute jumps, 7 runs of any delta,
// 8 runs of zero deltas; a stretch takes a kind from [firstKind, endKind).
Values RandomSequence(std::mt19937& random, size_t length, int firstKind = 0, int endKind = 9) {
  Values values;
  values.reserve(length);
  uint32_t value = random() % 3 == 0 ? 0 : random();
  auto delta = [&](int kind) -> uint32_t {
    static const uint32_t kRange[] = {5, 37, 549, 4096, 65536, 16777216};
    if (kind < 6) return uint32_t(random() % kRange[kind]) - kRange[kind] / 2;
    return random();  // an absolute jump
  };
  while (values.size() < length) {
    const int kind = firstKind + int(random() % (endKind - firstKind));
    size_t stretch = 1 + random() % (random() % 4 == 0 ? 700 : 40);
    stretch = std::min(stretch, length - values.size());
    if (kind >= 7) {  // a run of one delta, of any size
      const uint32_t d = kind == 7 ? delta(int(random() % 7)) : 0;
      for (size_t i = 0; i < stretch; ++i) values.push_back(int32_t(value += d));
    } else {
      for (size_t i = 0; i < stretch; ++i) values.push_back(int32_t(value += delta(kind)));
    }
  }
  return values;
}

void CheckReadBack(const Bytes& stream, const Values& values, std::mt19937& random) {
  const ReferenceResult ref = ReferenceDecode(stream, values.size());
  ASSERT_EQ(ref.error, "");
  ASSERT_EQ(ref.values, values);
  const ExactCopy copy(stream);
  PackedIntReader reader;
  reader.Attach(copy.data.get(), copy.size);
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(reader.Get(int32_t(i)), values[i]) << "sequential " << i;
  }
  // Backwards: every index of short streams, a spread of long ones.
  const size_t step = std::max<size_t>(1, values.size() / 200);
  for (size_t i = values.size(); i-- > 0;) {
    if (i % step == 0 || i + 1 == values.size()) {
      ASSERT_EQ(reader.Get(int32_t(i)), values[i]) << "backwards " << i;
    }
  }
  for (int k = 0; k < 200 && !values.empty(); ++k) {
    const size_t i = random() % values.size();
    ASSERT_EQ(reader.Get(int32_t(i)), values[i]) << "random " << i;
  }
  EXPECT_FALSE(reader.Failed());
}

TEST(PackedIntStreamTest, RandomStreamsReadBackEveryWay) {
  std::mt19937 random(2024);
  PackedIntWriter writer(65535);
  for (int round = 0; round < 3000 / kScale; ++round) {
    const int size = int(random() % 10);
    const size_t length = size < 6 ? random() % 300 : size < 9 ? random() % 5000 : random() % 30000;
    const Values source = RandomSequence(random, length);
    writer.Reset();
    Values values;
    for (int32_t v : source) {
      ASSERT_GE(writer.Put(v), 0);
      values.push_back(v);
      if (writer.TotalBytes() > 60000) break;
    }
    if (writer.CheckpointPartTooLong()) continue;  // stored some other way
    Bytes stream(writer.TotalBytes());
    ASSERT_EQ(writer.Join(stream.data(), stream.size()), int32_t(stream.size()));
    SCOPED_TRACE(round);
    CheckReadBack(stream, values, random);
    if (HasFatalFailure()) return;
  }
}

TEST(PackedIntStreamTest, StreamsFilledToTheLimit) {
  // As a container fills a stream: mark, put, and return to the mark when the
  // stream would pass the limit.
  std::mt19937 random(77);
  PackedIntWriter writer(65535);
  for (int round = 0; round < 24 / kScale; ++round) {
    // Heavy deltas fill the stream with few values and so few checkpoints;
    // with runs mixed in, the checkpoint part mostly outgrows byte 0.
    const Values source =
        round % 2 ? RandomSequence(random, 400000) : RandomSequence(random, 30000, 4, 7);
    writer.Reset();
    Values values;
    for (int32_t v : source) {
      writer.Mark();
      writer.Put(v);
      if (writer.TotalBytes() > kPackedStreamMaxBytes) {
        writer.ReturnToMark();
        break;
      }
      values.push_back(v);
    }
    SCOPED_TRACE(round);
    ASSERT_LE(writer.TotalBytes(), kPackedStreamMaxBytes);
    ASSERT_LT(values.size(), source.size());
    if (round % 2 == 0) {
      ASSERT_FALSE(writer.CheckpointPartTooLong());
    }
    if (writer.CheckpointPartTooLong()) continue;
    Bytes stream(writer.TotalBytes());
    ASSERT_EQ(writer.Join(stream.data(), stream.size()), int32_t(stream.size()));
    EXPECT_GT(stream.size(), kPackedStreamMaxBytes - 9);
    CheckReadBack(stream, values, random);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
