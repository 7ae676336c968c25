#include "boundary/readbna.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/boundary/reader_fixture.h"

namespace {

using gsbtest::Point;
using gsbtest::Record;
using readertest::Step;
using testsupport::FixturePath;
using testsupport::ImportParams;

class BnaReadTest : public readertest::ReaderTest {
 protected:
  std::string Write(const std::string& text) { return dir_.Write("in.bna", text); }
  // A region header and its points, one "x,y" line each.
  static std::string Region(const std::vector<Point>& points) {
    std::string text = "\"R\",\"r\"," + std::to_string(points.size()) + "\n";
    for (const Point& p : points)
      text += std::to_string(p.first) + "," + std::to_string(p.second) + "\n";
    return text;
  }
};

TEST_F(BnaReadTest, SampleFile) {
  Init();
  ASSERT_EQ(pipImportOpenBNA(import_, FixturePath("sample.bna").c_str(), 1), 1) << Detail();
  std::vector<Step> steps;
  EXPECT_EQ(ReadAll(&steps), (std::vector<int32_t>{1, 1, 2, 1, 1, 1, 0}));
  EXPECT_EQ(steps[2].name, "Ring");
  EXPECT_EQ(steps.back().name, "Point two");
  EXPECT_EQ(steps.back().percent, 100u);
  EXPECT_EQ(steps.back().count, 29u);

  std::vector<Record> records = Finish().Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].kind, 2);
  EXPECT_EQ(records[0].name, "Raleigh");
  EXPECT_EQ(records[0].name2, "");
  EXPECT_EQ(Point(records[0].x, records[0].y), Point(-78638000, 35779600));
  EXPECT_EQ(records[1].kind, 1);
  EXPECT_EQ(records[1].xy,
            (std::vector<Point>{{-78000000, 35000000}, {-77500000, 35250000}, {-77000000, 35500000}}));
  // "A","second",5 with (0,0) (1,0) (1,1) (0,1) (0,0): one ring of 4 points.
  EXPECT_EQ(records[2].name, "A");
  EXPECT_EQ(records[2].ringCounts, (std::vector<uint32_t>{4}));
  // Two rings, the return to the first point between them passed over.
  EXPECT_EQ(records[3].ringCounts, (std::vector<uint32_t>{3, 3}));
  EXPECT_EQ(records[3].xy[3], Point(5000000, 5000000));
  // Blanks ignored, '-' anywhere makes the value negative.
  EXPECT_EQ(Point(records[4].x, records[4].y), Point(-70500000, 40000001));
  for (const Record& r : records) EXPECT_EQ(r.recordNumber, 0u);
}

// Every ring rule of a region, and the errors of each.
TEST_F(BnaReadTest, RegionRings) {
  struct Case {
    const char* label;
    std::vector<Point> points;
    std::vector<uint32_t> rings;  // empty: the error below
    const char* error;
    int32_t pointLimit = 100;
    int32_t polygonLimit = 2;
  };
  const Case cases[] = {
      {"one closed ring", {{0, 0}, {4, 0}, {4, 4}, {0, 0}}, {3}, nullptr},
      {"second ring after a separator",
       {{0, 0}, {4, 0}, {4, 4}, {0, 0}, {0, 0}, {9, 9}, {9, 8}, {8, 8}, {9, 9}},
       {3, 3},
       nullptr},
      {"separator at the end", {{0, 0}, {4, 0}, {4, 4}, {0, 0}, {0, 0}}, {3}, nullptr},
      {"ring closed too early", {{0, 0}, {4, 0}, {0, 0}}, {}, "Too few points in last polygon created.\n"},
      {"two separators in a row",
       {{0, 0}, {4, 0}, {4, 4}, {0, 0}, {0, 0}, {0, 0}, {1, 1}},
       {},
       "Marker in wrong place.\n"},
      {"new ring with two points left",
       {{0, 0}, {4, 0}, {4, 4}, {0, 0}, {7, 7}, {8, 8}},
       {},
       "Too few points for new polygon.\n"},
      {"ends open", {{0, 0}, {4, 0}, {4, 4}, {5, 5}}, {}, "Ended with an unclosed polygon."},
      {"too many rings",
       {{0, 0}, {4, 0}, {4, 4}, {0, 0}, {5, 5}, {6, 5}, {6, 6}, {5, 5}, {7, 7}, {8, 7}, {8, 8},
        {7, 7}, {10, 10}, {11, 10}, {11, 11}, {10, 10}},
       {},
       "Too many polygons in object."},
      {"too many points",
       {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {0, 0}},
       {},
       "Object too large.",
       6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Init(ImportParams(c.pointLimit, c.polygonLimit, 0));  // coordinate kind 0: whole units
    ASSERT_EQ(pipImportOpenBNA(import_, Write(Region(c.points)).c_str(), 1), 1);
    if (c.error) {
      EXPECT_EQ(ReadAll().back(), -1);
      EXPECT_EQ(Code(), 100);
      EXPECT_EQ(Detail().substr(0, Detail().find("\nFile: ")), std::string("Error: ") + c.error);
      continue;
    }
    EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 0})) << Detail();
    std::vector<Record> records = Finish().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ringCounts, c.rings);
  }
}

TEST_F(BnaReadTest, NumbersAndLines) {
  struct Case {
    const char* label;
    uint32_t coordinateKind;
    const char* point;  // the line after a point header
    Point expected;     // unless error
    const char* error;
    long line;
  };
  const Case cases[] = {
      {"degrees", 1, "-71.5,42.25", {-71500000, 42250000}, nullptr, 0},
      {"seventh decimal rounds", 1, "0.00000049,0.0000005", {0, 1}, nullptr, 0},
      {"blanks and minus", 1, " 1 2.5 - ,3", {-12500000, 3000000}, nullptr, 0},
      {"plain units drop the fraction", 0, "-71.9,42.9", {-71, 42}, nullptr, 0},
      {"one value only", 1, "5", {}, "Syntax error.", 2},
      {"letters", 1, "5,north", {}, "Syntax error.", 2},
      {"out of range", 1, "3000,1", {}, "Syntax error.", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Init(ImportParams(100, 10, c.coordinateKind));
    const std::string path = Write(std::string("\"p\",1\n") + c.point + "\n");
    ASSERT_EQ(pipImportOpenBNA(import_, path.c_str(), 1), 1);
    if (c.error) {
      EXPECT_EQ(ReadAll().back(), -1);
      EXPECT_EQ(Detail(), std::string("Error: ") + c.error + "\nFile: " + path +
                              "\nLine: " + std::to_string(c.line));
      continue;
    }
    EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 0}));
    Record r = Finish().Records().at(0);
    EXPECT_EQ(Point(r.x, r.y), c.expected);
  }
}

TEST_F(BnaReadTest, HeaderLines) {
  const std::string text =
      "\"only a name\"\n"
      "\"first\",\"second\",\"third\",1\n"
      "1,2\n"
      "\"a\",\"b\",\"c\", 7x\n";
  struct Case {
    int32_t position;
    const char* name;
    bool warned;
  };
  for (const Case& c : {Case{2, "second", false}, Case{3, "third", false}, Case{0, "first", true},
                        Case{4, "first", true}}) {
    SCOPED_TRACE(c.position);
    Init();
    ASSERT_EQ(pipImportOpenBNA(import_, Write(text).c_str(), c.position), 1);
    if (c.warned) {
      EXPECT_EQ(Code(), 106);
      EXPECT_EQ(Detail(), kBnaInvalidNamePositionText);
    } else {
      EXPECT_NE(Detail(), kBnaInvalidNamePositionText);
    }
    Step s = Read();
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.name, c.name);
    // A count that is not a whole number.
    EXPECT_EQ(Read().status, -1);
    EXPECT_EQ(Detail().substr(0, 20), "Error: Syntax error.");
  }
}

TEST_F(BnaReadTest, FileEndsInsideAnObject) {
  Init();
  ASSERT_EQ(pipImportOpenBNA(import_, Write("\"l\",-3\n0,0\n1,1\n").c_str(), 1), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{-1}));
  EXPECT_EQ(Detail().substr(0, 30), "Error: Unexpected End of File.");
  Init();
  EXPECT_EQ(pipImportOpenBNA(import_, dir_.File("none.bna").c_str(), 1), -1);
}

}  // namespace
