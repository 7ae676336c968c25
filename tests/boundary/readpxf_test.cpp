#include "boundary/readpxf.h"

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

class PxfReadTest : public readertest::ReaderTest {
 protected:
  // Writes name.pxf and, unless pxd is null, name.pxd; returns the .pxf path.
  std::string Write(const std::string& pxf, const char* pxd, const std::string& name = "in") {
    if (pxd) dir_.Write(name + ".pxd", pxd);
    return dir_.Write(name + ".pxf", pxf);
  }
  static std::string Header(const std::string& columns = "Columns 2\n  Name Char(10)\n  Id Integer\n") {
    return "Version 300\n" + columns + "Data\n";
  }
};

// The shipped sample holds every clause: each object with its styles, the
// skipped clauses with their data rows, quoted and short rows.
TEST_F(PxfReadTest, SampleFile) {
  Init();
  ASSERT_EQ(pipImportOpenPXF2(import_, FixturePath("sample.pxf").c_str(), "name", "Label"), 1)
      << Detail();
  std::vector<Step> steps;
  EXPECT_EQ(ReadAll(&steps), (std::vector<int32_t>{1, 1, 2, 1, 1, 2, 1, 0}));
  EXPECT_EQ(steps[2].name, "Cape Fear label");  // the skipped clause's row names it
  EXPECT_EQ(steps[5].name, "Skipped rect");
  EXPECT_EQ(steps.back().name, "");  // the last object's row has no name
  EXPECT_EQ(steps.back().percent, 100u);
  EXPECT_EQ(steps.back().count, 39u);  // lines read, the end included
  EXPECT_LT(steps[0].percent, steps[4].percent);

  std::vector<Record> records = Finish().Records();
  ASSERT_EQ(records.size(), 5u);
  const Record& point = records[0];
  EXPECT_EQ(point.kind, 2);
  EXPECT_EQ(point.name, "Raleigh");
  EXPECT_EQ(point.name2, "State capital");
  EXPECT_EQ(Point(point.x, point.y), Point(-78500000, 35250000));
  EXPECT_EQ(point.symbolShape, 35);
  EXPECT_EQ(point.symbolSize, 12);
  EXPECT_EQ(point.code, 0);

  const Record& line = records[1];
  EXPECT_EQ(line.kind, 1);
  EXPECT_EQ(line.name, "Fall line road");
  EXPECT_EQ(line.code, 255);  // "2,"Fall line road"," has no third value
  // Decimal text read exactly, halves rounded away from zero.
  EXPECT_EQ(line.xy, (std::vector<Point>{{-78000000, 35000000}, {-77999999, 35000001}}));
  EXPECT_EQ(line.penWidth, 2);
  EXPECT_EQ(line.penPattern, 3);

  const Record& pline = records[2];
  EXPECT_EQ(pline.name, "Haw River");
  EXPECT_EQ(pline.name2, "river, with a comma");
  EXPECT_EQ(pline.xy.size(), 3u);
  EXPECT_EQ(pline.xy[2], Point(-79300000, 36300000));

  const Record& region = records[3];
  EXPECT_EQ(region.kind, 0);
  // A doubled quote in a quoted value is one quote of the name.
  EXPECT_EQ(region.name, "Square with \"hole\"");
  EXPECT_EQ(region.ringCounts, (std::vector<uint32_t>{4, 4}));  // the closing point dropped
  EXPECT_EQ(region.xy[2], Point(4350000, 4350000));             // not 4349999
  EXPECT_EQ(Point(region.labelX, region.labelY), Point(2500000, 2500000));
  EXPECT_EQ(region.penWidth, 1);
  EXPECT_EQ(region.penPattern, 2);
  EXPECT_EQ(region.brushPattern, 2);
  EXPECT_EQ(region.brushColour, 16777215u);
  EXPECT_EQ(region.brushBackground, 255u);

  EXPECT_EQ(records[4].name, "");
  EXPECT_EQ(records[4].code, 255);
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].recordNumber, i + 1);
}

// How the name columns are chosen, and the warnings that go with it.
TEST_F(PxfReadTest, NameColumnsAndWarnings) {
  const std::string pxf = Header() + "Point 1 2\n";
  const char* pxd = "\"n1\",7\n";
  struct Case {
    const char* label;
    std::string header;
    const char* nameField;
    const char* nameField2;
    const char* warning;  // null: none
    const char* name;
    const char* name2;
  };
  const char* kNoColumns = "Version 300\nData\n";
  const Case cases[] = {
      {"by name, any case", Header(), "ID", "name", nullptr, "7", "n1"},
      {"empty name field", Header(), "", nullptr, nullptr, "n1", ""},
      {"null name field", Header(), nullptr, nullptr, kPxfNullNameFieldText, "n1", ""},
      {"name not found", Header(), "code", nullptr, kPxfNameFieldNotFoundText, "n1", ""},
      {"second not found", Header(), "Name", "", kPxfNameField2NotFoundText, "n1", ""},
      {"no columns section", kNoColumns, "Name", nullptr, kPxfNameFieldNotFoundText, "n1", ""},
      {"column line of delimiters only", "Columns 2\n  (,\n  Name Char(10)\nData\n", "Name",
       "Label", kPxfNameField2NotFoundText, "7", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Init();
    std::string path = Write(c.header + "Point 1 2\n", pxd);
    ASSERT_EQ(pipImportOpenPXF2(import_, path.c_str(), c.nameField, c.nameField2), 1);
    if (c.warning) {
      EXPECT_EQ(Code(), 106);
      EXPECT_EQ(Detail(), c.warning);
    } else {
      EXPECT_EQ(Code(), -1);
    }
    EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 0}));
    std::vector<Record> records = Finish().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, c.name);
    EXPECT_EQ(records[0].name2, c.name2);
    EXPECT_EQ(Point(records[0].x, records[0].y), Point(1000000, 2000000));
  }
  // pipImportOpenPXF asks for no second name with an empty field name.
  Init();
  ASSERT_EQ(pipImportOpenPXF(import_, Write(pxf, pxd).c_str(), "Name"), 1);
  EXPECT_EQ(Code(), 106);
  EXPECT_EQ(Detail(), kPxfNameField2NotFoundText);
}

// Damaged input: the reader error names the message, the file and the line.
TEST_F(PxfReadTest, ReaderErrors) {
  struct Case {
    const char* label;
    std::string pxf;
    const char* pxd;
    bool opens;
    const char* message;
    const char* file;  // "pxf" or "pxd"
    long line;
  };
  const std::string h = Header();  // 5 lines
  const Case cases[] = {
      {"no DATA line", "Version 300\nColumns 1\n  Name Char(5)\n", "", false,
       "Unexpected End of File.", "pxf", 4},
      {"blank column line", "Columns 2\n  Name Char(5)\n \nData\n", "", false,
       "Blank line in columns section.", "pxf", 3},
      {"blank object line", h + "Region 1\n  3\n0 0\n\n", "a\n", true, "Blank line in object.",
       "pxf", 9},
      {"one value on a region line", h + "Region 1\n  3\n0 0\n1\n", "a\n", true,
       "Syntax error in object.", "pxf", 9},
      {"letters as a coordinate", h + "Pline 2\n0 0\n1 x\n", "a\n", true,
       "Syntax error in object.", "pxf", 8},
      {"point without y", h + "Point 1\n", "a\n", true, "Syntax error in object.", "pxf", 6},
      {"region without rings", h + "Region 0\n", "a\n", true, "Syntax error in object.", "pxf",
       6},
      {"ring count missing", h + "Region 1\n\n", "a\n", true, "Blank line in object.", "pxf", 7},
      {"file ends in an object", h + "Pline 3\n0 0\n1 1\n", "a\n", true,
       "Unexpected End of File.", "pxf", 9},
      {"too many points", h + "Pline 5\n0 0\n1 1\n2 2\n3 3\n4 4\n", "a\n", true,
       "Object too large", "pxf", 11},
      {"too many rings", h + "Region 3\n 1\n0 0\n 1\n1 1\n 1\n2 2\n", "a\n", true,
       "Too many polygons in object.", "pxf", 12},
      {"data row missing", h + "Point 0 0\nPoint 1 1\n", "a\n", true, "Unexpected End of File.",
       "pxd", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Init(ImportParams(4, 2));
    const std::string path = Write(c.pxf, c.pxd);
    const std::string file = dir_.File(std::string("in.") + c.file);
    const std::string expected = std::string("Error: ") + c.message + "\nFile: " + file +
                                 "\nLine: " + std::to_string(c.line);
    if (!c.opens) {
      EXPECT_EQ(pipImportOpenPXF2(import_, path.c_str(), "Name", nullptr), -1);
      EXPECT_EQ(Detail(), expected);
      EXPECT_EQ(Read().status, -1);  // no reader was left
      continue;
    }
    ASSERT_EQ(pipImportOpenPXF2(import_, path.c_str(), "Name", nullptr), 1) << Detail();
    std::vector<int32_t> statuses = ReadAll();
    EXPECT_EQ(statuses.back(), -1);
    EXPECT_EQ(Code(), 100);
    EXPECT_EQ(Detail(), expected);
    EXPECT_EQ(Read().status, -1);  // and it stays failed
  }
}

TEST_F(PxfReadTest, MissingFilesFailTheOpen) {
  Init();
  EXPECT_EQ(pipImportOpenPXF(import_, dir_.File("none.pxf").c_str(), "Name"), -1);
  EXPECT_EQ(Code(), 2);  // ENOENT from the file layer
  const std::string path = Write(Header() + "Point 1 1\n", nullptr, "nodata");
  EXPECT_EQ(pipImportOpenPXF(import_, path.c_str(), "Name"), -1);
  EXPECT_EQ(Read().status, -1);
}

// The extension is set to .PXF whatever was given, and the data file is
// found beside it.
TEST_F(PxfReadTest, ExtensionIsSet) {
  Init();
  Write(Header() + "Point 1 1\n", "\"x\",1\n", "upper");
  std::string given = dir_.File("upper.txt");
  ASSERT_EQ(pipImportOpenPXF2(import_, given.c_str(), "Name", nullptr), 1) << Detail();
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(Finish().Records()[0].name, "x");
}

// An object reported as read goes into the file also when the caller stops
// before the end: at a close, and at a term that keeps the file.
TEST_F(PxfReadTest, StoppingEarlyKeepsWhatWasRead) {
  const std::string path = Write(Header() + "Point 1 1\nPoint 2 2\n", "a,1\nb,2\n");
  for (bool close : {true, false}) {
    SCOPED_TRACE(close ? "close" : "term");
    Init();
    ASSERT_EQ(pipImportOpenPXF2(import_, path.c_str(), "Name", nullptr), 1);
    EXPECT_EQ(Read().status, 1);
    if (close) {
      EXPECT_EQ(pipImportClose(import_), 1);
    }
    std::vector<Record> records = Finish().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "a");
  }
}

// An insert between reads does not disturb the object the reader holds.
TEST_F(PxfReadTest, InsertWhileAnObjectIsPending) {
  Init();
  const std::string path =
      Write(Header() + "Region 1\n 3\n0 0\n1 0\n1 1\n    Center 0.5 0.5\n", "\"read\",1\n");
  ASSERT_EQ(pipImportOpenPXF2(import_, path.c_str(), "Name", nullptr), 1);
  EXPECT_EQ(Read().status, 1);  // the region waits for its style lines
  pipObjectInfoStruct o;
  std::memset(&o, 0, sizeof o);
  std::snprintf(o.name, sizeof o.name, "inserted");
  o.kind = PIP_OBJECT_LINE;
  const int32_t xy[] = {7, 7, 8, 8, 9, 9, 10, 10};
  const uint32_t count = 4;
  EXPECT_EQ(pipImportInsert(import_, &o, xy, &count, 1), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{0}));
  std::vector<Record> records = Finish().Records();
  ASSERT_EQ(records.size(), 2u);
  // Stored before the insert, so the label line came too late for it.
  EXPECT_EQ(records[0].name, "read");
  EXPECT_EQ(records[0].xy, (std::vector<Point>{{0, 0}, {1000000, 0}, {1000000, 1000000}}));
  EXPECT_EQ(records[1].name, "inserted");
  EXPECT_EQ(records[1].xy.size(), 4u);
}

}  // namespace
