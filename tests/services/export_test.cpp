// The export family: the BNA and interchange text writers byte for byte on
// small objects, the walk over a source boundary file (percentages, the end,
// the caller's name buffer), the reports, what term keeps and deletes, and
// round trips of the real data sets: built into boundary files by gsbbuild,
// exported, read again through the project's own readers, the same objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/env.h"
#include "services/export.h"
#include "tests/services/services_fixture.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using svctest::Box;
using svctest::BuildFile;
using svctest::Context;
using svctest::Obj;
using svctest::Point;
using svctest::Region;
using svctest::XY;
using testsupport::ReadAll;
using testsupport::RunProgram;
using testsupport::TempDir;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

pipObjectInfoStruct Info(uint32_t kind, const char* name, const char* name2 = "") {
  pipObjectInfoStruct info;
  std::memset(&info, 0, sizeof info);
  std::strncpy(info.name, name, sizeof info.name - 1);
  std::strncpy(info.name2, name2, sizeof info.name2 - 1);
  info.kind = kind;
  return info;
}

// An object to hand over: parts of points in millionths.
struct Given {
  pipObjectInfoStruct info;
  std::vector<std::vector<XY>> parts;

  int32_t Insert(uint32_t exporter, const char* name) const {
    std::vector<int32_t> xy, counts;
    for (const auto& part : parts) {
      counts.push_back(int32_t(part.size()));
      for (const XY& p : part) {
        xy.push_back(p.x);
        xy.push_back(p.y);
      }
    }
    // A point object gives one part a point.
    if (info.kind == PIP_OBJECT_POINT) counts.assign(counts.size(), 1);
    return pipExportInsert(exporter, name, &info, xy.data(), counts.data(),
                           int32_t(counts.size()));
  }
};

constexpr int32_t M = 1000000;

Given PointObject() {
  Given g{Info(PIP_OBJECT_POINT, "Pt", "Second"), {{{1500000, -2250000}}}};
  g.info.styleA = 34;
  g.info.styleB = 12;
  g.info.recordNumber = 7;
  return g;
}
Given LineObject() {
  Given g{Info(PIP_OBJECT_LINE, "Ln"),
          {{{0, 0}, {M, M}}, {{2 * M, 0}, {3 * M, 0}, {3 * M, M}}}};
  g.info.styleA = 2;
  g.info.styleB = 1;
  g.info.recordNumber = 255;
  return g;
}
Given RegionObject() {
  Given g{Info(PIP_OBJECT_REGION, "Rg", "R2"),
          {Box(0, 0, 4 * M, 4 * M), Box(M, M, 2 * M, 2 * M)}};
  g.info.styleA = 2;
  g.info.styleB = 1;
  g.info.recordNumber = 3;
  g.info.brushPattern = 2;
  g.info.brushColour = 16777215;
  g.info.brushBackground = 0;
  g.info.x = 500000;
  g.info.y = -250000;
  return g;
}

// ---- Output names ------------------------------------------------------------

TEST(ExportTest, BnaOutputNames) {
  const struct {
    const char* given;
    const char* made;
  } kCases[] = {
      {"a", "a.bna"},
      {"a.BNA", "a.bna"},
      {"a.bna", "a.bna"},
      {"a.bna.x", "a.b.bna"},  // the last four characters give way
      {"a.txt", "a.txt.bna"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.given);
    TempDir dir;
    Context context;
    uint32_t exporter = 0;
    ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File(c.given).c_str(), &exporter), 1);
    EXPECT_EQ(pipExportTerm(exporter, 1), 1);
    EXPECT_TRUE(Exists(dir.File(c.made)));
  }
}

TEST(ExportTest, PxfOutputNames) {
  const struct {
    const char* given;
    const char* pxf;
    const char* pxd;
  } kCases[] = {
      {"a", "a.pxf", "a.pxd"},
      {"a.PXF", "a.pxf", "a.pxd"},
      {"a.pxf", "a.pxf", "a.pxd"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.given);
    TempDir dir;
    Context context;
    uint32_t exporter = 0;
    ASSERT_EQ(pipExportInitPXF(context.handle(), dir.File(c.given).c_str(), &exporter), 1);
    EXPECT_EQ(pipExportTerm(exporter, 1), 1);
    EXPECT_TRUE(Exists(dir.File(c.pxf)));
    EXPECT_TRUE(Exists(dir.File(c.pxd)));
  }
}

TEST(ExportTest, ShapeBaseCutsTheExtensionOfTheLastNameOnly) {
  const std::pair<const char*, const char*> kCases[] = {
      {"out.shp", "out"},   {"out", "out"},         {".hidden", ".hidden"},
      {"a.b.shp", "a.b"},   {"../out", "../out"},   {"dir.d/out", "dir.d/out"},
      {"dir.d/o.x", "dir.d/o"},
  };
  for (const auto& [given, base] : kCases) EXPECT_EQ(ExportShapeBase(given), base) << given;
}

// ---- The writers, byte for byte ---------------------------------------------------

TEST(ExportTest, BnaRecordsOfEachKind) {
  TempDir dir;
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
  EXPECT_EQ(PointObject().Insert(exporter, "given"), 1);
  EXPECT_EQ(LineObject().Insert(exporter, "Ln"), 1);
  EXPECT_EQ(RegionObject().Insert(exporter, "Rg"), 1);
  ASSERT_EQ(pipExportTerm(exporter, 1), 1);
  EXPECT_EQ(ReadAll(dir.File("o.bna")),
            "\"Pt\",  \"Second\",  \"given\", 1\n"
            "   1.500000,   -2.250000 \n"
            "\"Ln\",  \"\",  \"Ln\", -2\n"
            "   0.000000,    0.000000 \n"
            "   1.000000,    1.000000 \n"
            "\"Ln\",  \"\",  \"Ln\", -3\n"
            "   2.000000,    0.000000 \n"
            "   3.000000,    0.000000 \n"
            "   3.000000,    1.000000 \n"
            "\"Rg\",  \"R2\",  \"Rg\", 10\n"
            "   0.000000,    0.000000 \n"
            "   4.000000,    0.000000 \n"
            "   4.000000,    4.000000 \n"
            "   0.000000,    4.000000 \n"
            "   0.000000,    0.000000\n"
            "   1.000000,    1.000000 \n"
            "   2.000000,    1.000000 \n"
            "   2.000000,    2.000000 \n"
            "   1.000000,    2.000000 \n"
            "   1.000000,    1.000000\n");
}

std::string BnaPoint(int x, int y) {
  char line[64];
  std::snprintf(line, sizeof line, "%11.6f, %11.6f \n", x / 1.0, y / 1.0);
  return line;
}
std::string BnaClosing(int x, int y) {
  char line[64];
  std::snprintf(line, sizeof line, "%11.6f, %11.6f\n", x / 1.0, y / 1.0);
  return line;
}

// Where a region's record starts: the first point that is the first point of
// no other ring; its ring comes first, the others follow cyclically.
TEST(ExportTest, BnaRegionStartsAtAPointThatStartsNoOtherRing) {
  const XY a{0, 0}, b{M, 0}, c{0, M};
  const struct {
    const char* name;
    std::vector<std::vector<XY>> rings;
    std::string body;  // the points after the header
  } kCases[] = {
      {"first point shared: the next one",
       {{a, {4 * M, 0}, {4 * M, 4 * M}}, {a, {-M, -M}, {-2 * M, 0}}},
       BnaPoint(4, 0) + BnaPoint(4, 4) + BnaPoint(0, 0) + BnaClosing(4, 0) +
           BnaPoint(0, 0) + BnaPoint(-1, -1) + BnaPoint(-2, 0) + BnaClosing(0, 0)},
      {"every point of ring 0 starts another ring: ring 1 first, cyclically",
       {{a, b, c}, {a, {5 * M, 5 * M}, {6 * M, 5 * M}}, {b, {7 * M, 0}, {7 * M, M}},
        {c, {0, 7 * M}, {M, 7 * M}}},
       BnaPoint(5, 5) + BnaPoint(6, 5) + BnaPoint(0, 0) + BnaClosing(5, 5) +
           BnaPoint(1, 0) + BnaPoint(7, 0) + BnaPoint(7, 1) + BnaClosing(1, 0) +
           BnaPoint(0, 1) + BnaPoint(0, 7) + BnaPoint(1, 7) + BnaClosing(0, 1) +
           BnaPoint(0, 0) + BnaPoint(1, 0) + BnaPoint(0, 1) + BnaClosing(0, 0)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Context context;
    uint32_t exporter = 0;
    ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
    const Given g{Info(PIP_OBJECT_REGION, "R"), c.rings};
    EXPECT_EQ(g.Insert(exporter, "R"), 1);
    ASSERT_EQ(pipExportTerm(exporter, 1), 1);
    const std::string text = ReadAll(dir.File("o.bna"));
    const size_t header = text.find('\n') + 1;
    EXPECT_EQ(text.substr(header), c.body);
  }
}

// A region whose every point starts another ring has no start: nothing of it
// is written, and the file goes on with the next object.
TEST(ExportTest, BnaRegionWithoutAStartPointWritesNothing) {
  TempDir dir;
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
  const XY a{M, M};
  const Given none{Info(PIP_OBJECT_REGION, "Stuck"), {{a, a, a}, {a, a, a}}};
  EXPECT_EQ(none.Insert(exporter, "Stuck"), -1);
  EXPECT_EQ(context.Code(), 100);
  EXPECT_NE(context.Detail().find("An error occured when exporting the region object \"Stuck\""),
            std::string::npos)
      << context.Detail();
  EXPECT_EQ(PointObject().Insert(exporter, "given"), 1);
  ASSERT_EQ(pipExportTerm(exporter, 1), 1);
  EXPECT_EQ(ReadAll(dir.File("o.bna")),
            "\"Pt\",  \"Second\",  \"given\", 1\n   1.500000,   -2.250000 \n");
}

TEST(ExportTest, PxfObjectsAndRows) {
  TempDir dir;
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitPXF(context.handle(), dir.File("o.pxf").c_str(), &exporter), 1);
  EXPECT_EQ(PointObject().Insert(exporter, "Pt"), 1);
  EXPECT_EQ(LineObject().Insert(exporter, "Ln"), 1);
  EXPECT_EQ(RegionObject().Insert(exporter, "Rg"), 1);
  ASSERT_EQ(pipExportTerm(exporter, 1), 1);
  EXPECT_EQ(ReadAll(dir.File("o.pxf")),
            "Version 300\n"
            "Delimiter \",\"\n"
            "Index 1\n"
            "Columns 2\n"
            "  Name  Char(128)\n"
            "  Name2 Char(128)\n"
            "Data\n"
            "\n"
            "POINT     1.500000   -2.250000 \n"
            "    Symbol (34,7,12)\n"
            "PLINE   2\n"
            "   0.000000    0.000000 \n"
            "   1.000000    1.000000 \n"
            "    Pen (1,2,255)\n"
            "PLINE   3\n"
            "   2.000000    0.000000 \n"
            "   3.000000    0.000000 \n"
            "   3.000000    1.000000 \n"
            "    Pen (1,2,255)\n"
            "REGION  2\n"
            "4\n"
            "   0.000000    0.000000 \n"
            "   4.000000    0.000000 \n"
            "   4.000000    4.000000 \n"
            "   0.000000    4.000000 \n"
            "4\n"
            "   1.000000    1.000000 \n"
            "   2.000000    1.000000 \n"
            "   2.000000    2.000000 \n"
            "   1.000000    2.000000 \n"
            "    Pen (1,2,3)\n"
            "    Brush (2, 16777215, 0)\n"
            "    Center    0.500000    -0.250000\n"
            "\n");
  EXPECT_EQ(ReadAll(dir.File("o.pxd")),
            "\"Pt\",\"Second\"\n"
            "\"Ln\",\"\"\n"
            "\"Ln\",\"\"\n"
            "\"Rg\",\"R2\"\n");
}

// ---- Names with quotes, TABs and line ends -------------------------------------

// What one of the readers makes of the first object of an export: its name
// and second name, or "" when it does not read.
std::pair<std::string, std::string> ReadBackNames(const std::string& format,
                                                  const std::string& path,
                                                  const std::string& gsb) {
  Context c;
  pipImportParamStruct params{};
  params.pointLimit = 1000;
  params.polygonLimit = 10;
  params.coordinateKind = 1;
  uint32_t import = 0;
  if (pipImportInit(c.handle(), gsb.c_str(), &params, &import) != 1) return {};
  int32_t opened;
  if (format == "bna")
    opened = pipImportOpenBNA(import, path.c_str(), 1);
  else if (format == "pxf")
    opened = pipImportOpenPXF2(import, path.c_str(), "Name", "Name2");
  else
    opened = pipImportOpenTAB(import, path.c_str(), "NAME", "NAME2");
  char name[128] = "";
  const bool read = opened == 1 && pipImportRead(import, name, sizeof name, nullptr, nullptr) == 1;
  pipImportClose(import);
  pipImportTerm(import, read ? 1 : 0);
  if (!read) return {};
  svctest::OpenFile file(c, gsb);
  if (!file.ok()) return {};
  pipObjectInfoStruct info{};
  char found[128];
  if (pipObjectFindFirstName(file.handle(), "*", found, sizeof found) != 1 ||
      pipObjectGetInfo(file.handle(), &info) != 1)
    return {};
  return {info.name, info.name2};
}

// Each format holds what it can and its reader gives it back as written: a
// double quote goes doubled inside the quotes (and the readers make it one
// again); a line end cannot stand in a line of BNA or interchange text, nor
// a TAB in a map table's row text: such a name fails its object with a
// report, before anything of it is written.
TEST(ExportTest, NamesComeBackAsTheyWereOrAreRefused) {
  struct Case {
    const char* format;
    const char* name;
    const char* refusal;  // null: read back whole
  } cases[] = {
      {"bna", "say \"hi\"", nullptr},
      {"bna", "tab\there, comma", nullptr},
      {"bna", "line\nend", "holds a line end, which BNA text cannot hold."},
      {"pxf", "\"quoted\"", nullptr},
      {"pxf", "tab\there", nullptr},
      {"pxf", "cr\rhere", "holds a line end, which interchange text cannot hold."},
      {"tab", "say \"hi\"", nullptr},
      {"tab", "line\nend", nullptr},
      {"tab", "tab\there", "holds a TAB, which a map table's row text cannot hold."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.name);
    TempDir dir;
    Context context;
    const std::string format = c.format;
    const std::string path = dir.File(format == "tab" ? "o.TAB" : "o." + format);
    uint32_t exporter = 0;
    ASSERT_EQ(format == "bna"   ? pipExportInitBNA(context.handle(), path.c_str(), &exporter)
              : format == "pxf" ? pipExportInitPXF(context.handle(), path.c_str(), &exporter)
                                : pipExportInitTAB(context.handle(), path.c_str(), &exporter, 0),
              1);
    Given point{Info(PIP_OBJECT_POINT, c.name, c.name), {{{1500000, 2250000}}}};
    const int32_t inserted = point.Insert(exporter, c.name);
    EXPECT_EQ(pipExportTerm(exporter, 1), 1);
    if (c.refusal) {
      EXPECT_EQ(inserted, -1);
      EXPECT_EQ(context.Code(), 100);
      EXPECT_NE(context.Detail().find(c.refusal), std::string::npos) << context.Detail();
      continue;
    }
    ASSERT_EQ(inserted, 1);
    const auto names = ReadBackNames(format, path, dir.File("back.gsb"));
    EXPECT_EQ(names.first, c.name);
    // BNA text carries no second name back.
    if (format != "bna") {
      EXPECT_EQ(names.second, c.name);
    }
  }
}

// ---- Refusals and reports -----------------------------------------------------

TEST(ExportTest, InsertRefusals) {
  TempDir dir;
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
  const pipObjectInfoStruct info = Info(PIP_OBJECT_LINE, "L");
  const int32_t xy[4] = {0, 0, M, M};
  const int32_t counts[1] = {2};
  const int32_t negative[1] = {-2};
  EXPECT_EQ(pipExportInsert(exporter, nullptr, &info, xy, counts, 1), -1);
  EXPECT_EQ(pipExportInsert(exporter, "L", nullptr, xy, counts, 1), -1);
  EXPECT_EQ(pipExportInsert(exporter, "L", &info, nullptr, counts, 1), -1);
  EXPECT_EQ(pipExportInsert(exporter, "L", &info, xy, nullptr, 1), -1);
  EXPECT_EQ(pipExportInsert(exporter, "L", &info, xy, counts, 0), -1);
  EXPECT_EQ(pipExportInsert(exporter, "L", &info, xy, negative, 1), -1);
  // A kind no writer knows is reported with the region text.
  pipObjectInfoStruct odd = Info(9, "Odd");
  EXPECT_EQ(pipExportInsert(exporter, "Odd", &odd, xy, counts, 1), -1);
  EXPECT_EQ(context.Code(), 100);
  EXPECT_EQ(context.Detail().rfind("An error occured when exporting the region object \"Odd\"", 0),
            0u)
      << context.Detail();
  // Handles of another family, or none.
  EXPECT_EQ(pipExportInsert(context.handle(), "L", &info, xy, counts, 1), -1);
  EXPECT_EQ(pipExportTerm(context.handle(), 1), -1);
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
  EXPECT_EQ(pipExportTerm(exporter, 1), -1);
  EXPECT_EQ(ReadAll(dir.File("o.bna")), "");
}

TEST(ExportTest, InitRefusals) {
  TempDir dir;
  Context context;
  uint32_t exporter = 0;
  EXPECT_EQ(pipExportInitBNA(context.handle(), nullptr, &exporter), -1);
  EXPECT_EQ(pipExportInitPXF(context.handle(), dir.File("o").c_str(), nullptr), -1);
  EXPECT_EQ(pipExportInitBNA(0, dir.File("o").c_str(), &exporter), -1);
  // A folder that does not exist: nothing can be created.
  EXPECT_EQ(pipExportInitBNA(context.handle(), dir.File("no/o").c_str(), &exporter), -1);
  EXPECT_EQ(pipExportInitPXF(context.handle(), dir.File("no/o").c_str(), &exporter), -1);
  EXPECT_EQ(exporter, 0u);
  EXPECT_FALSE(Exists(dir.File("o.pxf")));
}

TEST(ExportTest, SourceOpenFailures) {
  TempDir dir;
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
  EXPECT_EQ(pipExportOpen(exporter, nullptr, 0), -1);
  EXPECT_EQ(context.Code(), 105);
  EXPECT_EQ(context.Detail(),
            "Please make sure that the object file name \n\tfrom which to transfer files is "
            "valid.\n");
  const std::string missing = dir.File("missing.gsb");
  EXPECT_EQ(pipExportOpen(exporter, missing.c_str(), 0), -1);
  EXPECT_EQ(context.Code(), 105);
  EXPECT_EQ(context.Detail().rfind("Could not open " + missing + ".  \n", 0), 0u)
      << context.Detail();
  const std::string text = dir.Write("text.gsb", std::string(4096, 'x'));
  EXPECT_EQ(pipExportOpen(exporter, text.c_str(), 0), -1);
  EXPECT_EQ(context.Code(), 105);
  // Without a source there is nothing to write.
  char name[16];
  EXPECT_EQ(pipExportWrite(exporter, name, sizeof name, nullptr, nullptr), -1);
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
}

// ---- Walking a source file ------------------------------------------------------

TEST(ExportTest, WriteWalksTheSourceUpToAHundredPercent) {
  TempDir dir;
  const std::string gsb = dir.File("s.gsb");
  ASSERT_TRUE(BuildFile(gsb, {Region("Delta", {Box(0, 0, M, M)}), Point("Alpha", 5 * M, 5 * M),
                              Region("Charlie", {Box(2 * M, 0, 3 * M, M)}),
                              Point("Bravo", 6 * M, 6 * M)}));
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitPXF(context.handle(), dir.File("o").c_str(), &exporter), 1);
  ASSERT_EQ(pipExportOpen(exporter, gsb.c_str(), 0), 1);
  // The caller's buffer gets at most size - 1 characters and a NUL; the
  // byte behind it stays.
  const struct {
    const char* name;
    int32_t percent;
  } kSteps[] = {{"Alp", 25}, {"Bra", 50}, {"Cha", 75}, {"Del", 100}};
  int32_t done = 0;
  for (const auto& step : kSteps) {
    char name[5] = {'?', '?', '?', '?', '#'};
    int32_t percent = -1;
    ASSERT_EQ(pipExportWrite(exporter, name, 4, &percent, &done), 1);
    EXPECT_STREQ(name, step.name);
    EXPECT_EQ(name[4], '#');
    EXPECT_EQ(percent, step.percent);
  }
  EXPECT_EQ(done, 4);
  char name[16];
  EXPECT_EQ(pipExportWrite(exporter, name, sizeof name, nullptr, &done), -1);
  EXPECT_EQ(pipExportClose(exporter), 1);
  ASSERT_EQ(pipExportTerm(exporter, 1), 1);
  EXPECT_EQ(ReadAll(dir.File("o.pxd")),
            "\"Alpha\",\"\"\n\"Bravo\",\"\"\n\"Charlie\",\"\"\n\"Delta\",\"\"\n");
}

TEST(ExportTest, EmptySourceFailsAtTheFirstWrite) {
  TempDir dir;
  const std::string gsb = dir.File("empty.gsb");
  if (!BuildFile(gsb, {})) GTEST_SKIP() << "an empty boundary file cannot be built";
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
  ASSERT_EQ(pipExportOpen(exporter, gsb.c_str(), 0), 1);
  char name[16];
  EXPECT_EQ(pipExportWrite(exporter, name, sizeof name, nullptr, nullptr), -1);
  EXPECT_EQ(context.Code(), 100);
  EXPECT_EQ(context.Detail().rfind("Could not access object ", 0), 0u) << context.Detail();
  pipExportClose(exporter);
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
}

// An exporter keeps working after its context ended: it holds the context's
// error record, not the context.
TEST(ExportTest, ExporterOutlivesItsContext) {
  TempDir dir;
  const std::string gsb = dir.File("s.gsb");
  ASSERT_TRUE(BuildFile(gsb, {Point("Alpha", 5 * M, 5 * M)}));
  uint32_t exporter = 0;
  {
    Context context;
    ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &exporter), 1);
  }
  ASSERT_EQ(pipExportOpen(exporter, gsb.c_str(), 0), 1);
  char name[16];
  EXPECT_EQ(pipExportWrite(exporter, name, sizeof name, nullptr, nullptr), 1);
  pipExportClose(exporter);
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
  EXPECT_EQ(ReadAll(dir.File("o.bna")), "\"Alpha\",  \"\",  \"Alpha\", 1\n   5.000000,    5.000000 \n");
}

// ---- Term: what is kept --------------------------------------------------------

TEST(ExportTest, TermWithoutKeepDeletesTextOutputs) {
  for (const int32_t keep : {0, 1}) {
    SCOPED_TRACE(keep);
    TempDir dir;
    Context context;
    uint32_t bna = 0, pxf = 0;
    ASSERT_EQ(pipExportInitBNA(context.handle(), dir.File("o").c_str(), &bna), 1);
    ASSERT_EQ(pipExportInitPXF(context.handle(), dir.File("o").c_str(), &pxf), 1);
    EXPECT_EQ(RegionObject().Insert(bna, "Rg"), 1);
    EXPECT_EQ(RegionObject().Insert(pxf, "Rg"), 1);
    EXPECT_EQ(pipExportTerm(bna, keep), 1);
    EXPECT_EQ(pipExportTerm(pxf, keep), 1);
    for (const char* f : {"o.bna", "o.pxf", "o.pxd"}) EXPECT_EQ(Exists(dir.File(f)), keep == 1) << f;
  }
}

// Writes that do not reach the disk make term fail when the output is kept.
class FullDiskEnv : public platform::EnvWrapper {
 public:
  FullDiskEnv() : EnvWrapper(platform::Env::Current()) {}
  std::FILE* OpenStream(int fd, const char* mode) override {
    platform::EnvWrapper::Close(fd);
    return std::fopen("/dev/full", mode);
  }
  int CloseStream(std::FILE* stream) override { return std::fclose(stream); }
};

// A kept output that did not reach the disk whole is reported and deleted,
// as a discarded one is: no torn text file is left behind.
TEST(ExportTest, TermReportsAndDeletesOutputThatCouldNotBeWritten) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  struct Format {
    const char* name;
    int32_t (*init)(uint32_t, const char*, uint32_t*);
    std::vector<const char*> files;
  } formats[] = {{"bna", pipExportInitBNA, {"o.bna"}}, {"pxf", pipExportInitPXF, {"o.pxf", "o.pxd"}}};
  for (const Format& f : formats) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    Context context;
    uint32_t exporter = 0;
    {
      FullDiskEnv full;
      platform::ScopedEnv scoped(full);
      ASSERT_EQ(f.init(context.handle(), dir.File("o").c_str(), &exporter), 1);
      EXPECT_EQ(RegionObject().Insert(exporter, "Rg"), 1);
      EXPECT_EQ(pipExportTerm(exporter, 1), -1);
    }
    EXPECT_EQ(context.Code(), 100);
    EXPECT_EQ(context.Detail(), "Could not write " + dir.File(f.files[0]) + ".\n");
    for (const char* file : f.files) EXPECT_FALSE(Exists(dir.File(file))) << file;
  }
}

// ---- Round trips of the real data sets ---------------------------------------------

struct DataSet {
  const char* name;
  const char* stem;  // under the shared data folder
  const char* nameField;
};
const DataSet kDataSets[] = {
    {"nc", "nc/nc", "NAME"},
    {"naturalearth_lowres", "naturalearth/naturalearth_lowres", "name"},
    {"naturalearth_cities", "naturalearth/naturalearth_cities", "name"},
    {"us_counties", "us/us_counties", "name"},
};

// Copies a shapefile set into dir; bytes of 128 and above in the attribute
// records (which gsbbuild refuses) become '?'.
std::string CopyShapefile(const TempDir& dir, const DataSet& set) {
  const std::string stem = testsupport::SharedDataPath(set.stem);
  dir.Write(std::string(set.name) + ".shp", ReadAll(stem + ".shp"));
  dir.Write(std::string(set.name) + ".shx", ReadAll(stem + ".shx"));
  std::string dbf = ReadAll(stem + ".dbf");
  if (dbf.size() >= 12) {
    const size_t header = uint8_t(dbf[8]) | size_t(uint8_t(dbf[9])) << 8;
    for (size_t i = header; i < dbf.size(); ++i)
      if (uint8_t(dbf[i]) >= 128) dbf[i] = '?';
  }
  dir.Write(std::string(set.name) + ".dbf", dbf);
  return dir.File(std::string(set.name) + ".shp");
}

using Ring = std::vector<std::pair<int32_t, int32_t>>;

struct Object {
  std::string name, name2;
  uint32_t kind = 0;
  int32_t x = 0, y = 0;
  std::vector<int32_t> bounds;
  std::vector<Ring> rings;  // each as a cycle (Cycle); sorted

  bool operator<(const Object& o) const {
    return std::tie(name, name2, kind, bounds, rings, x, y) <
           std::tie(o.name, o.name2, o.kind, o.bounds, o.rings, o.x, o.y);
  }
};

// A ring as a cycle: its least rotation. A ring may be written from
// another point than it was stored from; a repeated point stays repeated
// (a ring stored ending in its first point again comes back from BNA with
// the two side by side) unless closed is set: the interchange text reader
// takes a ring's last point equal to its first as its closing point, so a
// ring stored closed comes back open.
Ring Cycle(Ring ring, bool closed) {
  if (closed && ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
  Ring best = ring;
  if (ring.empty()) return best;
  const auto least = *std::min_element(ring.begin(), ring.end());
  for (size_t i = 0; i < ring.size(); ++i) {
    if (ring[i] != least) continue;
    Ring rotated(ring.begin() + long(i), ring.end());
    rotated.insert(rotated.end(), ring.begin(), ring.begin() + long(i));
    if (rotated < best || best.front() != least) best = rotated;
  }
  return best;
}

// Every object of a boundary file, sorted; label points only when asked
// (closed: see Cycle).
std::vector<Object> Objects(const std::string& path, bool labels, bool closed = false) {
  std::vector<Object> objects;
  Context context;
  svctest::OpenFile file(context, path);
  EXPECT_TRUE(file.ok()) << path;
  if (!file.ok()) return objects;
  char name[256];
  for (int32_t r = pipObjectFindFirstName(file.handle(), "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(file.handle(), name, sizeof name)) {
    pipObjectInfoStruct info{};
    EXPECT_EQ(pipObjectGetInfo(file.handle(), &info), 1);
    Object o;
    o.name = info.name;
    o.name2 = info.name2;
    o.kind = info.kind;
    if (labels) {
      o.x = info.x;
      o.y = info.y;
    }
    o.bounds.assign(info.bounds, info.bounds + 4);
    EXPECT_TRUE(svctest::CurrentRings(file.handle(), &o.rings)) << o.name;
    for (Ring& ring : o.rings) ring = Cycle(ring, closed);
    std::sort(o.rings.begin(), o.rings.end());
    objects.push_back(o);
  }
  std::sort(objects.begin(), objects.end());
  return objects;
}

// Exports every object of gsb through the exporter made by init.
template <class Init>
void Export(const std::string& gsb, Init init) {
  Context context;
  uint32_t exporter = 0;
  ASSERT_EQ(init(context.handle(), &exporter), 1);
  ASSERT_EQ(pipExportOpen(exporter, gsb.c_str(), 2), 1);
  char name[128];
  int32_t percent = 0, done = 0;
  while (pipExportWrite(exporter, name, sizeof name, &percent, &done) == 1) {
  }
  EXPECT_EQ(percent, 100) << context.Detail();
  pipExportClose(exporter);
  ASSERT_EQ(pipExportTerm(exporter, 1), 1);
}

// Builds path from input through the import calls, opened by open.
template <class Open>
void Import(const std::string& path, Open open) {
  Context context;
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  ASSERT_EQ(pipImportInit(context.handle(), path.c_str(), &params, &import), 1);
  ASSERT_EQ(open(import), 1) << context.Detail();
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) {
  }
  pipImportClose(import);
  EXPECT_EQ(status, 0) << context.Detail();
  ASSERT_EQ(pipImportTerm(import, 1), 1) << context.Detail();
}

void ExpectSame(const std::vector<Object>& a, const std::vector<Object>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(a[i].name);
    EXPECT_EQ(a[i].name, b[i].name);
    EXPECT_EQ(a[i].name2, b[i].name2);
    EXPECT_EQ(a[i].kind, b[i].kind);
    EXPECT_EQ(a[i].x, b[i].x);
    EXPECT_EQ(a[i].y, b[i].y);
    EXPECT_EQ(a[i].bounds, b[i].bounds);
    EXPECT_EQ(a[i].rings.size(), b[i].rings.size());
    for (size_t r = 0; r < std::min(a[i].rings.size(), b[i].rings.size()); ++r)
      EXPECT_EQ(a[i].rings[r], b[i].rings[r]) << "ring " << r;
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(ExportRoundTripTest, RealDataThroughBnaAndInterchangeText) {
  for (const DataSet& set : kDataSets) {
    SCOPED_TRACE(set.name);
    TempDir dir;
    const std::string shp = CopyShapefile(dir, set);
    const std::string gsb = dir.File("source.gsb");
    const auto built = RunProgram(dir, GSBBUILD_PATH, {shp, gsb, set.nameField});
    ASSERT_EQ(built.status, 1) << built.out << built.err;

    const std::string bna = dir.File("out.bna"), pxf = dir.File("out.pxf");
    Export(gsb, [&](uint32_t c, uint32_t* e) { return pipExportInitBNA(c, bna.c_str(), e); });
    Export(gsb, [&](uint32_t c, uint32_t* e) { return pipExportInitPXF(c, pxf.c_str(), e); });
    Import(dir.File("bna.gsb"), [&](uint32_t i) { return pipImportOpenBNA(i, bna.c_str(), 1); });
    Import(dir.File("pxf.gsb"),
           [&](uint32_t i) { return pipImportOpenPXF2(i, pxf.c_str(), "Name", "Name2"); });

    // BNA carries no label point; the interchange text does.
    {
      SCOPED_TRACE("BNA");
      ExpectSame(Objects(gsb, false), Objects(dir.File("bna.gsb"), false));
    }
    SCOPED_TRACE("interchange text");
    ExpectSame(Objects(gsb, true, true), Objects(dir.File("pxf.gsb"), true, true));
  }
}

// gsbtool export as users run it: the interchange text it writes builds the
// same boundary file through gsbbuild.
TEST(ExportRoundTripTest, GsbtoolExport) {
  TempDir dir;
  const std::string shp = CopyShapefile(dir, kDataSets[0]);
  const std::string gsb = dir.File("nc.gsb");
  ASSERT_EQ(RunProgram(dir, GSBBUILD_PATH, {shp, gsb, "NAME"}).status, 1);
  const auto exported = RunProgram(dir, GSBTOOL_PATH, {"export", "pxf", gsb, dir.File("out")});
  ASSERT_EQ(exported.status, 0) << exported.out << exported.err;
  EXPECT_EQ(exported.out, gsb + ": 100 objects written to " + dir.File("out.pxf") + "\n");
  const auto rebuilt = RunProgram(dir, GSBBUILD_PATH, {dir.File("out.pxf"), dir.File("back.gsb"),
                                                      "Name"});
  ASSERT_EQ(rebuilt.status, 1) << rebuilt.out;
  ExpectSame(Objects(gsb, true, true), Objects(dir.File("back.gsb"), true, true));

  const auto bna = RunProgram(dir, GSBTOOL_PATH, {"export", "bna", gsb, dir.File("out")});
  ASSERT_EQ(bna.status, 0) << bna.err;
  EXPECT_TRUE(Exists(dir.File("out.bna")));
  EXPECT_EQ(RunProgram(dir, GSBTOOL_PATH, {"export", "gif", gsb, dir.File("out")}).status, 2);
  EXPECT_EQ(RunProgram(dir, GSBTOOL_PATH, {"export", "bna", dir.File("no.gsb"), dir.File("x")})
                .status,
            1);
}

}  // namespace
