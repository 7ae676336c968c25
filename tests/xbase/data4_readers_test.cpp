// Reads real data files through the engine and through independent readers
// (python3-dbfread; gdal's ogrinfo for the dBASE dialect) and compares.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/xbase/oracle.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using xbasetest::FieldText;
using xbasetest::HaveOgrinfo;
using xbasetest::kPython;
using xbasetest::RunCommand;
using xbasetest::TestCode4;

bool HaveDbfread() { return xbasetest::HavePythonModule("dbfread"); }

// Live records first, then deleted ones, one line each.
std::string EngineDump(DATA4* data) {
  std::string live, deleted;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    std::string line = d4deleted(data) ? "deleted" : "live";
    for (int j = 1; j <= data->nFields; j++) {
      FIELD4* field = d4fieldJ(data, j);
      if (field->type == '0') continue;
      line += "|" + FieldText(field);
    }
    (d4deleted(data) ? deleted : live) += line + "\n";
  }
  return live + deleted;
}

std::string XbaseData(const std::string& name) { return xbasetest::SharedTable("xbase/" + name); }

const char* const kReadable[] = {
    "dbase/dBaseIII_nomemo.dbf", "foxpro/91.dbf",    "foxpro/Foxpro2.dbf",
    "foxpro/currency.dbf",       "foxpro/issue115.dbf", "foxpro/pr90.dbf",
    "foxpro/visual_fox_pro6.dbf", "../nc/nc.dbf",
};

TEST(DataFileReaders, SameRecordsAsDbfread) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed (tools/install-deps)";
  std::string script = xbasetest::Script("dbf_dump.py");
  for (const char* name : kReadable) {
    std::string path = XbaseData(name);
    std::string expected;
    ASSERT_TRUE(RunCommand(std::string(kPython) + " " + script + " '" + path + "'", &expected)) << name;
    TestCode4 c4;
    c4.autoOpen = 0;  // index files are the index layer's
    DATA4* data = d4open(&c4, path.c_str());
    ASSERT_NE(data, nullptr) << name << ": " << (c4.Last() ? c4.Last()->code : 0);
    EXPECT_EQ(EngineDump(data), expected) << name;
    EXPECT_TRUE(c4.reports.empty()) << name;
    d4close(data);
  }
}

TEST(DataFileReaders, SameValuesAsOgrinfo) {
  if (!HaveOgrinfo()) GTEST_SKIP() << "gdal-bin is not installed (tools/install-deps)";
  for (const char* name : {"dbase/dBaseIII_nomemo.dbf", "../nc/nc.dbf"}) {
    // Alone in a folder, so that the reader sees the table and not a shapefile.
    testsupport::TempDir dir;
    std::string path = dir.File("table.dbf");
    std::filesystem::copy_file(XbaseData(name), path);
    std::vector<xbasetest::OgrRecord> records;
    ASSERT_TRUE(xbasetest::OgrRead(path, &records)) << name;
    TestCode4 c4;
    DATA4* data = d4open(&c4, path.c_str());
    ASSERT_NE(data, nullptr) << name;
    size_t i = 0;
    for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
      if (d4deleted(data)) continue;
      ASSERT_LT(i, records.size()) << name;
      for (int j = 1; j <= d4numFields(data); j++) {
        FIELD4* field = d4fieldJ(data, j);
        auto it = records[i].find(field->name);
        ASSERT_NE(it, records[i].end()) << name << " " << field->name;
        const auto& [type, value] = it->second;
        std::string mine = FieldText(field);
        if (type == "Real" || type == "Integer" || type == "Integer64") {
          if (value.empty()) {
            EXPECT_EQ(mine, "") << name << " " << field->name;
          } else {
            double theirs = std::stod(value);
            EXPECT_NEAR(f4double(field), theirs, 1e-12 * std::max(1.0, std::fabs(theirs)))
                << name << " record " << i + 1 << " " << field->name;
          }
        } else if (type == "Date") {
          std::string digits;
          for (char c : value) {
            if (c != '/') digits += c;
          }
          EXPECT_EQ(mine, digits) << name << " " << field->name;
        } else {
          EXPECT_EQ(mine, value) << name << " record " << i + 1 << " " << field->name;
        }
      }
      i++;
    }
    EXPECT_EQ(i, records.size()) << name;
    d4close(data);
  }
}

TEST(DataFileReaders, UnsupportedTablesFailCleanly) {
  struct Case {
    const char* name;
    int code;
  } cases[] = {
      {"dbase/dBaseIII.dbf", -64},        // its memo file is not the engine's kind
      {"dbase/dBaseIV.dbf", -64},
      {"dbase/dBaseVII.dbf", -200},  // 48-byte descriptors: not a data file here
      {"dbase/dBaseVII_double.dbf", -200},
      {"dbase/dBaseVII_int.dbf", -200},
      {"dbase/dBaseVII_ts.dbf", -200},
      {"foxpro/vfp.dbf", -200},           // a later FoxPro version
  };
  for (const auto& c : cases) {
    TestCode4 c4;
    c4.autoOpen = 0;
    EXPECT_EQ(d4open(&c4, XbaseData(c.name).c_str()), nullptr) << c.name;
    ASSERT_NE(c4.Last(), nullptr) << c.name;
    EXPECT_EQ(c4.Last()->code, c.code) << c.name;
    EXPECT_EQ(c4.dataFileList.numLinks, 0u) << c.name;
  }
}

TEST(DataFileReaders, ProductionIndexOpensWithItsTable) {
  TestCode4 c4;
  DATA4* data = d4open(&c4, XbaseData("foxpro/issue115.dbf").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_NE(d4index(data, nullptr), nullptr);
  EXPECT_EQ(d4close(data), 0);
  // Its index file is missing: the open fails unless open errors are off.
  EXPECT_EQ(d4open(&c4, XbaseData("foxpro/visual_fox_pro6.dbf").c_str()), nullptr);
  EXPECT_EQ(c4.Last()->code, -64);
}

}  // namespace
