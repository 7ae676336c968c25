#include "boundary/segrec.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/distance_model.h"
#include "tests/boundary/ring_fixtures.h"
#include "tests/support/geos_oracle.h"

namespace {

using ringtest::Ring;
using testsupport::Geos;

using Fields = std::vector<int32_t>;

Fields FieldsOf(const SegmentRecord& r) { return Fields(r.field, r.field + 7); }

constexpr int32_t kLeftHigh = static_cast<int32_t>(SegmentRecord::kLeftHigh);

TEST(SegmentRecordTest, RegionRingGivesTheClosingSegmentFirst) {
  // The ring (0,0) (10,0) (10,10) (0,0) is stored as three points.
  Ring ring = {{0, 0}, {10, 0}, {10, 10}};
  SegmentFrame frame = SegmentFrame::Make(-1, -1, 0);  // the widened minimum
  ASSERT_EQ(SegmentRecordCount(3, true), 3u);
  SegmentRecord out[3];
  ASSERT_EQ(BuildSegmentRecords(ring.data(), 3, true, frame, out), 3u);
  EXPECT_EQ(FieldsOf(out[0]), (Fields{1, 1, 11, 11, 14, 7071067, 7071067}));
  EXPECT_EQ(FieldsOf(out[1]), (Fields{1, 1, 11, 1, 10, 10000000, 0}));
  EXPECT_EQ(FieldsOf(out[2]), (Fields{11, 1, 11, 11, 10, 0, 10000000}));
}

TEST(SegmentRecordTest, EndsDirectionsAndOpenParts) {
  SegmentFrame frame = SegmentFrame::Make(0, 0, 0);
  SegmentRecord out[3];
  // L has the larger y: the flag, and a downward direction.
  Ring falling = {{11, 1}, {1, 11}};
  ASSERT_EQ(BuildSegmentRecords(falling.data(), 2, false, frame, out), 1u);
  EXPECT_EQ(FieldsOf(out[0]), (Fields{1 | kLeftHigh, 1, 11, 11, 14, 7071067, -7071067}));
  // Equal x: L is the lower end.
  Ring vertical = {{4, 9}, {4, 2}};
  BuildSegmentRecords(vertical.data(), 2, false, frame, out);
  EXPECT_EQ(FieldsOf(out[0]), (Fields{4, 2, 4, 9, 7, 0, 10000000}));
  // Zero length.
  Ring repeated = {{5, 5}, {5, 5}};
  BuildSegmentRecords(repeated.data(), 2, false, frame, out);
  EXPECT_EQ(FieldsOf(out[0]), (Fields{5, 5, 5, 5, 0, 10000000, 0}));
  // The direction is a unit vector even where the stored length is cut.
  Ring diagonal = {{0, 0}, {1, 1}};
  BuildSegmentRecords(diagonal.data(), 2, false, frame, out);
  EXPECT_EQ(FieldsOf(out[0]), (Fields{0, 0, 1, 1, 1, 7071067, 7071067}));

  EXPECT_EQ(SegmentRecordCount(3, false), 2u);
  EXPECT_EQ(SegmentRecordCount(1, false), 0u);
  EXPECT_EQ(SegmentRecordCount(0, false), 0u);
  EXPECT_EQ(BuildSegmentRecords(falling.data(), 0, true, frame, out), 0u);
}

TEST(SegmentRecordTest, GeographicFrameScalesToFeetAndRounds) {
  const int32_t x0 = -80000000, y0 = 35000000;
  SegmentFrame frame = SegmentFrame::Make(x0, y0, 1);
  double xs = std::cos(y0 * kRadiansPerMillionth) * kFeetPerMillionth;
  EXPECT_EQ(frame.ScaleX(x0 + 1000000), static_cast<int32_t>(1000000 * xs + 0.5));
  EXPECT_EQ(frame.ScaleY(y0 + 1000000), 364320);
  EXPECT_EQ(frame.ScaleY(y0 + 1), 0);  // 0.36 feet
  EXPECT_EQ(frame.ScaleY(y0 + 2), 1);  // 0.73 feet
  // Left of the origin the half is added before cutting toward zero.
  EXPECT_EQ(frame.ScaleY(y0 - 10), -3);  // -3.64 + 0.5
  SegmentFrame plain = SegmentFrame::Make(0, 0, 0);
  EXPECT_EQ(plain.ScaleX(INT32_MIN), INT32_MIN + 1);
  EXPECT_EQ(SegmentFrame::Make(INT32_MIN, 0, 0).ScaleX(INT32_MAX), INT32_MAX);
}

TEST(SegmentRecordTest, BytesAreLittleEndianFieldByField) {
  SegmentRecord r{{1 | kLeftHigh, -2, 0x01020304, 4, 5, 10000000, -7142857}};
  unsigned char bytes[kSegmentRecordSize];
  EncodeSegmentRecord(r, bytes);
  const unsigned char first[] = {0x01, 0x00, 0x00, 0x80, 0xFE, 0xFF,
                                 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(std::memcmp(bytes, first, sizeof first), 0);
  EXPECT_EQ(FieldsOf(DecodeSegmentRecord(bytes)), FieldsOf(r));
}

struct BufferCase {
  const char* name;
  int32_t px, py;
  int32_t radius;
  bool within;
  int32_t distance;
};

TEST(SegmentRecordTest, BufferTests) {
  // A plain frame whose origin lies below and left of every point, as an
  // object's widened minimum does: no point rounds toward the origin.
  SegmentFrame frame = SegmentFrame::Make(-1000, -1000, 0);
  Ring flat = {{0, 0}, {100, 0}};
  Ring sloped = {{0, 0}, {30, 40}};  // length 50, direction (0.6, 0.8)
  SegmentRecord f, s;
  BuildSegmentRecords(flat.data(), 2, false, frame, &f);
  BuildSegmentRecords(sloped.data(), 2, false, frame, &s);
  const BufferCase flatCases[] = {
      {"beside, at the radius", 50, 5, 5, true, 5},
      {"beside, past the radius", 50, 6, 5, false, 6},
      {"below, at the radius", 50, -5, 5, true, 5},
      {"on it", 50, 0, 0, true, 0},
      {"before the start, at the radius", -3, 4, 5, true, 5},
      {"before the start, past the radius", -4, 4, 5, false, 5},
      {"past the end, at the radius", 104, 3, 5, true, 5},
      {"past the end, in line", 106, 0, 5, false, 6},
      {"far away", 1000, 1000, 5, false, 1345},
      {"a negative radius", 50, 0, -1, false, 0},
  };
  for (const BufferCase& c : flatCases) {
    EXPECT_EQ(SegmentsWithinRadius(&f, 1, frame, c.px, c.py, c.radius), c.within) << c.name;
    EXPECT_EQ(SegmentsDistance(&f, 1, frame, c.px, c.py), c.distance) << c.name;
  }
  // Ten units off the middle of the sloped segment, along its normal.
  EXPECT_TRUE(SegmentsWithinRadius(&s, 1, frame, 7, 26, 10));
  EXPECT_FALSE(SegmentsWithinRadius(&s, 1, frame, 7, 26, 9));
  EXPECT_EQ(SegmentsDistance(&s, 1, frame, 7, 26), 10);
  // Several records: the nearest answers, the first hit is enough.
  SegmentRecord both[2] = {f, s};
  EXPECT_EQ(SegmentsDistance(both, 2, frame, 7, 26), 10);
  EXPECT_TRUE(SegmentsWithinRadius(both, 2, frame, 60, 3, 3));
  EXPECT_EQ(SegmentsDistance(both, 0, frame, 7, 26), -1);
  EXPECT_FALSE(SegmentsWithinRadius(both, 0, frame, 7, 26, 100));
}

// Records of real county borders in feet, against GEOS's distance from the
// same points to the same borders in the same plane. The records hold whole
// feet: the point and the end L each round by up to 0.71 feet, the rounding
// of both ends turns the direction by up to 1 / length, which moves a point
// `along` feet away by up to another foot, and the result is cut to a whole
// foot: 3.5 feet at most.
TEST(SegmentRecordOracleTest, DistancesAndRadiiAgreeWithGeos) {
  Geos geos;
  std::mt19937_64 rng(21);
  int checked = 0;
  for (size_t i = 0; i < ringtest::Nc().size(); i += 4) {
    const ringtest::Shape& shape = ringtest::Nc()[i];
    SegmentFrame frame = SegmentFrame::Make(shape.xmin - 1, shape.ymin - 1, 1);
    std::vector<SegmentRecord> records;
    std::vector<Geos::Geom> borders;
    Geos::Plane plane{double(frame.x0), double(frame.y0), frame.xScale, frame.yScale};
    for (const Ring& ring : shape.rings) {
      size_t at = records.size();
      records.resize(at + SegmentRecordCount(static_cast<uint32_t>(ring.size()), true));
      BuildSegmentRecords(ring.data(), static_cast<uint32_t>(ring.size()), true, frame,
                          records.data() + at);
      borders.push_back(geos.Line(ring, true, plane));
    }
    for (int q = 0; q < 40; ++q) {
      int32_t px =
          std::uniform_int_distribution<int32_t>(shape.xmin - 20000, shape.xmax + 20000)(rng);
      int32_t py =
          std::uniform_int_distribution<int32_t>(shape.ymin - 20000, shape.ymax + 20000)(rng);
      Geos::Geom point = geos.Point(plane.X(px), plane.Y(py));
      double expected = 1e300;
      for (const auto& b : borders)
        expected = std::min(expected, geos.Distance(point.get(), b.get()));
      uint32_t n = static_cast<uint32_t>(records.size());
      ASSERT_NEAR(SegmentsDistance(records.data(), n, frame, px, py), expected, 3.5)
          << px << "," << py;
      auto r = static_cast<int32_t>(expected);
      EXPECT_TRUE(SegmentsWithinRadius(records.data(), n, frame, px, py, r + 4)) << px << "," << py;
      if (r > 4) {
        EXPECT_FALSE(SegmentsWithinRadius(records.data(), n, frame, px, py, r - 4))
            << px << "," << py;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 900);
}

}  // namespace
