// lio load and lio dump as users run them, on small shapefiles written here
// through Zonelib's shapefile and dBASE writers: the row text of every
// column kind (quotes doubled, a TAB that would split the row), each shape
// kind as its WKT (a polygon with a hole, two polygons, one- and two-part
// lines, points), and the refusals (usage, a missing or projected source, a
// clause that does not parse, a number its column cannot hold, which leave
// no table behind), the reasons failures give, and the help. A load that
// fails or is refused (a damaged source, a full disk, vertices the table
// cannot hold, a table another process is reading) leaves what was at the
// destination byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::Outcome;
using testsupport::RunProgram;
using testsupport::TempDir;

Outcome Lio(const TempDir& dir, const std::vector<std::string>& words) {
  return RunProgram(dir, LIO_PATH, words);
}

DbfField Column(const char* name, char type, uint8_t width, uint8_t decimals = 0) {
  DbfField f{};
  std::strncpy(f.name, name, sizeof f.name - 1);
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  std::snprintf(f.format, sizeof f.format, "%%%u.%uf", unsigned(width), unsigned(decimals));
  return f;
}

struct Record {
  const char* text;
  double number;
  double count;
  char logical;
  std::vector<std::vector<double>> parts;  // x, y pairs; one point for points
};

// base.shp/.shx/.dbf with a C, an N with decimals, an N of whole numbers and
// an L column, and one shape of `type` per record.
void WriteShapefile(const std::string& base, int type, const std::vector<Record>& records) {
  std::vector<DbfField> fields = {Column("NAME", DBF_CHARACTER, 24),
                                  Column("VALUE", DBF_NUMERIC, 10, 2),
                                  Column("COUNT", DBF_NUMERIC, 6),
                                  Column("FLAG", DBF_LOGICAL, 1)};
  DbfHandle table{};
  table.fieldCount = uint32_t(fields.size());
  table.fields = fields.data();
  ASSERT_EQ(dbCreate(&table, base.c_str()), 0);
  ShapeHandle shape{};
  ASSERT_EQ(ShapeCreate(&shape, base.c_str()), 0);
  for (const Record& r : records) {
    std::snprintf(fields[0].value.text, sizeof fields[0].value.text, "%s", r.text);
    fields[1].value.number = r.number;
    fields[2].value.number = r.count;
    fields[3].value.logical = r.logical;
    ASSERT_EQ(dbWrite(&table), 0);
    if (type == SHAPE_POINT) {
      ASSERT_EQ(ShapeWritePoint(&shape, r.parts[0].data()), 0);
      continue;
    }
    std::vector<std::vector<double>> copies = r.parts;
    std::vector<ShapePart> parts;
    for (auto& xy : copies) parts.push_back({uint32_t(xy.size() / 2), xy.data()});
    ShapePartList list{uint32_t(parts.size()), parts.data()};
    ASSERT_EQ(ShapeWritePoly(&shape, &list, type), 0);
  }
  ASSERT_EQ(ShapeClose(&shape), 0);
  ASSERT_EQ(dbClose(&table), 0);
}

// The lines of a dump after "rows N".
std::vector<std::string> RowLines(const std::string& out) {
  std::vector<std::string> lines;
  size_t at = out.find("\nrows ");
  if (at == std::string::npos) return lines;
  at = out.find('\n', at + 1);
  while (at != std::string::npos && at + 1 < out.size()) {
    const size_t end = out.find('\n', at + 1);
    lines.push_back(out.substr(at + 1, end - at - 1));
    at = end;
  }
  return lines;
}

// Every file of a folder with its bytes, but the runs' own input and
// error files.
std::map<std::string, std::string> Snapshot(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = e.path().filename().string();
    if (name != "stdin.txt" && name != "stderr.txt")
      files[name] = testsupport::ReadAll(e.path().string());
  }
  return files;
}

// Copies a shapefile set of the shared data into dir as name.shp, .shx,
// .dbf (without its .prj); the .shp cut to `size` bytes when given.
void CopyShapefile(const TempDir& dir, const char* stem, const std::string& name,
                   size_t size = std::string::npos) {
  const std::string from = testsupport::SharedDataPath(stem);
  dir.Write(name + ".shp", testsupport::ReadAll(from + ".shp").substr(0, size));
  dir.Write(name + ".shx", testsupport::ReadAll(from + ".shx"));
  dir.Write(name + ".dbf", testsupport::ReadAll(from + ".dbf"));
}

TEST(LioTest, RowTextAndObjectsOfEachShapeKind) {
  const std::vector<double> square = {0, 0, 0, 10, 10, 10, 10, 0, 0, 0};
  const std::vector<double> hole = {2, 2, 4, 2, 4, 4, 2, 4, 2, 2};
  const std::vector<double> far = {20, 20, 20, 21, 21, 21, 21, 20, 20, 20};
  struct Case {
    const char* name;
    int type;
    std::vector<Record> records;
    std::vector<std::string> rows;
  } cases[] = {
      {"polygons",
       SHAPE_POLYGON,
       {{"Main \"A\" St", 12.5, 42, 'T', {square, hole}}, {"two\tparts", -0.25, 0, 'F', {square, far}}},
       {"\"Main \"\"A\"\" St\"\t12.5\t42\t\"T\"\tPOLYGON ((0 0, 0 10, 10 10, 10 0, 0 0), "
        "(2 2, 4 2, 4 4, 2 4, 2 2))",
        "\"two parts\"\t-0.25\t0\t\"F\"\tMULTIPOLYGON (((0 0, 0 10, 10 10, 10 0, 0 0)), "
        "((20 20, 20 21, 21 21, 21 20, 20 20)))"}},
      {"lines",
       SHAPE_POLYLINE,
       {{"one", 1, 1, 'T', {{1, 2, 3, 4, 5, 6}}}, {"two", 2, 2, 'F', {{1, 2, 3, 4}, {5, 6, 7, 8}}}},
       {"\"one\"\t1\t1\t\"T\"\tLINESTRING (1 2, 3 4, 5 6)",
        "\"two\"\t2\t2\t\"F\"\tMULTILINESTRING ((1 2, 3 4), (5 6, 7 8))"}},
      {"points",
       SHAPE_POINT,
       {{"", 0, 0, 'F', {{-78.5, 35.25}}}, {"Raleigh", 3, 7, 'T', {{-78.638, 35.7796}}}},
       {"\"\"\t0\t0\t\"F\"\tPOINT (-78.5 35.25)", "\"Raleigh\"\t3\t7\t\"T\"\tPOINT (-78.638 35.7796)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteShapefile(dir.File("in"), c.type, c.records);
    const Outcome load = Lio(dir, {"load", dir.File("in.shp"), dir.File("out.TAB")});
    ASSERT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.out, std::to_string(c.records.size()) + " rows\n");
    const Outcome dump = Lio(dir, {"dump", dir.File("out.TAB")});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out.substr(0, dump.out.find("\nrows ")),
              "fields 4\nNAME Char (24)\nVALUE Float\nCOUNT Integer\nFLAG Logical");
    EXPECT_EQ(RowLines(dump.out), c.rows);
    // A longitude/latitude table reads the same in degrees.
    const Outcome degrees = Lio(dir, {"dump", dir.File("out.TAB"), "--lonlat"});
    ASSERT_EQ(degrees.status, 0) << degrees.err;
    EXPECT_EQ(degrees.out, dump.out);
  }
}

TEST(LioTest, Refusals) {
  const std::string mercator = "CoordSys Earth Projection 10, 104, \"m\", 0";
  struct Case {
    const char* name;
    std::vector<std::string> words;  // "@" stands for the folder
    int status;
    const char* says;                // on standard error
  } cases[] = {
      {"load without a destination", {"load", "@/in.shp"}, 2, "usage: lio load"},
      {"dump with an unknown flag", {"dump", "@/t.TAB", "--degrees"}, 2, "usage: lio load"},
      {"source that is no shapefile", {"load", "@/in.dbf", "@/t.TAB"}, 1, "not a shapefile"},
      {"missing source", {"load", "@/none.shp", "@/t.TAB"}, 1, "none.shp cannot be read"},
      {"projected source", {"load", "@/proj.shp", "@/t.TAB"}, 1, "names the projected"},
      {"clause that does not parse",
       {"load", "@/in.shp", "@/t.TAB", "CoordSys Earth Projection 99"}, 1,
       "the CoordSys clause cannot be read: a table handle or an argument that is not valid "
       "(error 644)"},
      {"missing table", {"dump", "@/none.TAB"}, 1,
       "none.TAB cannot be opened: no such file or folder, or no space left on the device "
       "(error 370)"},
      {"missing table in degrees", {"dump", "@/none.TAB", "--lonlat"}, 1, "cannot be opened"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteShapefile(dir.File("in"), SHAPE_POINT, {{"a", 1, 1, 'T', {{1, 2}}}});
    WriteShapefile(dir.File("proj"), SHAPE_POINT, {{"a", 1, 1, 'T', {{1, 2}}}});
    dir.Write("proj.prj", "PROJCS[\"WGS 84 / Pseudo-Mercator\",GEOGCS[\"WGS 84\"]]");
    std::vector<std::string> words;
    for (std::string w : c.words) words.push_back(w[0] == '@' ? dir.path() + w.substr(1) : w);
    const Outcome run = Lio(dir, words);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("t.TAB")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("t.DAT")));
  }
  {
    // A number its column cannot hold (a fraction in COUNT, an Integer
    // column) fails the load, which leaves no table; it is never zeroed.
    TempDir dir;
    WriteShapefile(dir.File("in"), SHAPE_POINT, {{"a", 1, 123456, 'T', {{1, 2}}}});
    std::string dbf = testsupport::ReadAll(dir.File("in.dbf"));
    const size_t at = dbf.find("123456");
    ASSERT_NE(at, std::string::npos);
    dbf.replace(at, 6, "  12.5");
    dir.Write("in.dbf", dbf);
    const Outcome run = Lio(dir, {"load", dir.File("in.shp"), dir.File("t.TAB")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("1960"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("t.TAB")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("t.DAT")));
  }
  // The same clause with a projection that exists makes the table.
  TempDir dir;
  WriteShapefile(dir.File("in"), SHAPE_POINT, {{"a", 1, 1, 'T', {{10, 45}}}});
  const Outcome run = Lio(dir, {"load", dir.File("in.shp"), dir.File("t.TAB"), mercator});
  EXPECT_EQ(run.status, 0) << run.err;
  const Outcome dump = Lio(dir, {"dump", dir.File("t.TAB"), "--lonlat"});
  const std::vector<std::string> rows = RowLines(dump.out);
  ASSERT_EQ(rows.size(), 1u) << dump.out;
  double x = 0, y = 0;
  ASSERT_EQ(std::sscanf(rows[0].c_str(), "\"a\"\t1\t1\t\"T\"\tPOINT (%lf %lf)", &x, &y), 2)
      << rows[0];
  EXPECT_NEAR(x, 10, 1e-6);
  EXPECT_NEAR(y, 45, 1e-6);
}

// Failures name the library's reason in words, with its code and the file or
// value the error names, whichever way lio reaches the library.
TEST(LioTest, ErrorsSayWhatTheirCodesMean) {
  struct Case {
    const char* name;
    std::vector<std::string> words;  // "@" stands for the folder
    const char* err;                 // a line of standard error, whole
    const char* out;                 // a line of standard output, whole
  } cases[] = {
      {"no table definition", {"dump", "@/junk.TAB"},
       "lio: @/junk.TAB cannot be opened: not a table definition (its first lines are not "
       "\"!table\" and \"!version\") (error 329)",
       ""},
      {"data file missing", {"dump", "@/t.TAB"},
       "lio: @/t.TAB cannot be opened: the table's data file is missing or cannot be read "
       "(error 505)",
       ""},
      {"output folder missing", {"load", "@/in.shp", "@/none/t.TAB"},
       "lio: @/none/t.TAB: no temporary table can be made in its folder: No such file or "
       "directory",
       ""},
      {"map file missing", {"mapdump", "@/none.MAP"},
       "lio: @/none.MAP: no such file or folder, or no space left on the device (error 370)", ""},
      {"no map file", {"mapdump", "@/junk.MAP"}, "lio: @/junk.MAP: not a map file", ""},
      {"map file cut short", {"mapdump", "@/short.MAP"},
       "lio: @/short.MAP: the map file is damaged: header (error 1340)", ""},
      {"unknown projection", {"clause", "CoordSys Earth Projection 99"},
       "lio: the CoordSys clause cannot be read: an unknown projection: 99 (error 888)", ""},
      {"expression of no value", {"expr", "-\"a\""}, "", "error 306: a value that is not a number"},
      {"no date", {"date", "99/99/99"}, "", "error 854: a value that cannot be converted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteShapefile(dir.File("in"), SHAPE_POINT, {{"a", 1, 1, 'T', {{1, 2}}}});
    ASSERT_EQ(Lio(dir, {"load", dir.File("in.shp"), dir.File("t.TAB")}).status, 0);
    std::filesystem::remove(dir.File("t.DAT"));
    dir.Write("junk.TAB", "not a table\n");
    dir.Write("junk.MAP", std::string(1024, 'x'));
    dir.Write("short.MAP", "junk\n");
    auto at = [&](std::string w) {
      for (size_t p = w.find('@'); p != std::string::npos; p = w.find('@', p + 1))
        w.replace(p, 1, dir.path());
      return w;
    };
    std::vector<std::string> words;
    for (const std::string& w : c.words) words.push_back(at(w));
    const Outcome run = Lio(dir, words);
    EXPECT_EQ(run.status, 1);
    if (*c.err) {
      EXPECT_NE(("\n" + run.err).find("\n" + at(c.err) + "\n"), std::string::npos) << run.err;
    }
    if (*c.out) {
      EXPECT_NE(("\n" + run.out).find("\n" + std::string(c.out) + "\n"), std::string::npos) << run.out;
    }
  }
}

TEST(LioTest, HelpAndUnknownCommands) {
  TempDir dir;
  for (const char* flag : {"--help", "-h"}) {
    const Outcome run = Lio(dir, {flag});
    EXPECT_EQ(run.status, 0) << flag;
    EXPECT_EQ(run.out.rfind("usage: lio unit VALUE FROM TO\n", 0), 0u) << flag;
    EXPECT_NE(run.out.find("lio dump TABLE.TAB [--lonlat]\n"), std::string::npos) << flag;
    EXPECT_EQ(run.err, "") << flag;
  }
  const Outcome unknown = Lio(dir, {"kml"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("lio: unknown command 'kml'\nusage: lio unit", 0), 0u) << unknown.err;
  const Outcome bare = Lio(dir, {});
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.err.rfind("usage: lio unit", 0), 0u) << bare.err;
}

// A map table over a dBASE data file: number fields of blanks or asterisks
// are empty in the row text, a 0 stays 0 (tests/data/nulls/nulls.dbf).
TEST(LioTest, EmptyDbaseNumbersDumpEmpty) {
  TempDir dir;
  dir.Write("nulls.dbf", testsupport::ReadAll(testsupport::FixturePath("nulls/nulls.dbf")));
  // Written after its data file, so that the definition is not older.
  dir.Write("nulls.TAB",
            "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
            "  Type DBF Charset \"WindowsLatin1\"\n  Fields 4\n    NAME Char (8) ;\n"
            "    LIFE Decimal (6, 1) ;\n    POP Decimal (10, 0) ;\n    RATE Decimal (8, 3) ;\n");
  const Outcome run = Lio(dir, {"dump", dir.File("nulls.TAB")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string none = "\tGEOMETRYCOLLECTION EMPTY";
  EXPECT_EQ(RowLines(run.out), (std::vector<std::string>{"\"full\"\t72.5\t1234567\t0.125" + none,
                                                        "\"blank\"\t\t\t" + none, "\"stars\"\t\t\t" + none,
                                                        "\"mixed\"\t\t0\t" + none}));
}

// The table at the destination is replaced only by a whole new one: a load
// that fails or is refused leaves it byte for byte and nothing of its own.
TEST(LioTest, LoadThatFailsLeavesTheTableAtTheDestination) {
  TempDir dir;
  CopyShapefile(dir, "nc/nc", "nc");
  CopyShapefile(dir, "nc/nc", "cut", 20000);
  // Metres taken for degrees: one point far outside any longitude.
  WriteShapefile(dir.File("metres"), SHAPE_POINT,
                 {{"near", 1, 1, 'T', {{-78.6, 35.8}}}, {"far", 2, 2, 'F', {{609601, 200000}}}});
  dir.Write("prj.shp", testsupport::ReadAll(dir.File("metres.shp")));
  dir.Write("prj.shx", testsupport::ReadAll(dir.File("metres.shx")));
  dir.Write("prj.dbf", testsupport::ReadAll(dir.File("metres.dbf")));
  dir.Write("prj.prj", "\n  projcrs[\"NAD83 / North Carolina\",BASEGEOGCRS[\"NAD83\"]]");
  const Outcome first = Lio(dir, {"load", dir.File("nc.shp"), dir.File("us.TAB")});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::map<std::string, std::string> before = Snapshot(dir);

  const std::string ncClause =
      "CoordSys Earth Projection 3, 74, \"m\", -79, 33.75, 34.3333333333, 36.1666666667, "
      "609601.22, 0 Bounds (0, 0) (1000000, 1000000)";
  struct Case {
    const char* what;
    std::vector<std::string> words;  // after "load"; "@" stands for the folder
    int fileBlocks;                  // a file size limit in 512-byte blocks, 0 none
    std::string says;
  } cases[] = {
      {"a truncated source", {"@/cut.shp", "@/us.TAB"}, 0, "cut.shp: record 47 cannot be read"},
      {"a full disk", {"@/nc.shp", "@/us.TAB"}, 40, "error"},
      {"metres taken for degrees", {"@/metres.shp", "@/us.TAB"}, 0,
       "1 of 2 vertices of " + dir.File("metres.shp") + " fall outside the bounds of "},
      {"a point outside the clause's bounds", {"@/nc.shp", "@/us.TAB",
       "CoordSys Earth Projection 3, 74, \"m\", -79, 33.75, 34.3333333333, 36.1666666667, "
       "609601.22, 0 Bounds (0, 0) (500000, 1000000)"},
       0, "vertices of " + dir.File("nc.shp") + " fall outside the bounds of "},
      {"a projected source", {"@/prj.shp", "@/us.TAB", ncClause}, 0,
       "names the projected coordinate system \"NAD83 / North Carolina\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> words = {"load"};
    for (std::string w : c.words) words.push_back(w[0] == '@' ? dir.path() + w.substr(1) : w);
    Outcome run;
    if (c.fileBlocks) {
      // The disk fills up for this one program: writes past the limit fail.
      words.insert(words.begin(), LIO_PATH);
      words.insert(words.begin(), "ulimit -f " + std::to_string(c.fileBlocks) +
                                      "; trap '' XFSZ; exec \"$0\" \"$@\"");
      words.insert(words.begin(), "-c");
      run = testsupport::RunProgram(dir, "/bin/sh", words);
    } else {
      run = Lio(dir, words);
    }
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(dir), before);
  }
}

// A table another process is reading is not replaced under it: the load is
// refused and the reader reads the whole table it opened.
TEST(LioTest, LoadOverATableBeingReadIsRefused) {
  TempDir dir;
  // Enough rows that the reader, whose output nobody takes yet, waits with
  // the table open.
  std::vector<Record> records;
  for (int i = 0; i < 5000; ++i)
    records.push_back({"a name of twenty-four c", double(i), double(i), 'T', {{i * 0.01, 1}}});
  WriteShapefile(dir.File("many"), SHAPE_POINT, records);
  WriteShapefile(dir.File("few"), SHAPE_POINT, {{"other", 1, 1, 'T', {{2, 2}}}});
  ASSERT_EQ(Lio(dir, {"load", dir.File("many.shp"), dir.File("t.TAB")}).status, 0);
  const std::map<std::string, std::string> before = Snapshot(dir);
  const Outcome alone = Lio(dir, {"dump", dir.File("t.TAB")});
  ASSERT_EQ(alone.status, 0) << alone.err;
  ASSERT_GT(alone.out.size(), size_t(200000));

  FILE* reader = popen((testsupport::ShellQuoted(LIO_PATH) + " dump " +
                        testsupport::ShellQuoted(dir.File("t.TAB")))
                           .c_str(),
                       "r");
  ASSERT_NE(reader, nullptr);
  // Its first output comes once the table is open.
  std::string read(4096, '\0');
  read.resize(fread(read.data(), 1, read.size(), reader));
  ASSERT_EQ(read.rfind("fields 4\n", 0), 0u) << read;

  const Outcome load = Lio(dir, {"load", dir.File("few.shp"), dir.File("t.TAB")});
  EXPECT_EQ(load.status, 1);
  EXPECT_NE(load.err.find("t.TAB cannot be replaced: access denied: the file is read-only or "
                          "held by another program (error 825)"),
            std::string::npos)
      << load.err;

  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, reader)) > 0;) read.append(buffer, n);
  EXPECT_EQ(pclose(reader), 0);
  EXPECT_EQ(read, alone.out);
  EXPECT_EQ(Snapshot(dir), before);
  // Once it is read no more, the table is replaced.
  EXPECT_EQ(Lio(dir, {"load", dir.File("few.shp"), dir.File("t.TAB")}).status, 0);
  EXPECT_EQ(RowLines(Lio(dir, {"dump", dir.File("t.TAB")}).out).size(), 1u);
}

}  // namespace
