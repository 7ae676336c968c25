// The attribute file written from a temporary table: its console lines, the
// tables it refuses, and what it leaves behind.
#include "builder/gsaimport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/support/temp_dir.h"
#include "xbase/d4all.h"
#include "xbase/d4wrap.h"
#include "zonelib.h"

namespace {

using testsupport::TempDir;

// A table of count rows with a text, a number and QRECID 1..count, or with
// a memo field besides.
void MakeTable(const std::string& path, int count, bool memo = false) {
  Code4 code;
  ASSERT_EQ(code.init(), 0);
  std::vector<FIELD4INFO> fields = {{const_cast<char*>("NAME"), 'C', 10, 0, 0},
                                    {const_cast<char*>("N"), 'N', 8, 2, 0},
                                    {const_cast<char*>("QRECID"), 'N', 12, 0, 0}};
  if (memo) fields.push_back({const_cast<char*>("NOTE"), 'M', 10, 0, 0});
  fields.push_back({nullptr, 0, 0, 0, 0});
  DATA4* data = d4create(&code, path.c_str(), fields.data(), nullptr);
  ASSERT_NE(data, nullptr);
  for (int i = 1; i <= count; ++i) {
    d4appendStart(data);
    f4assign(d4field(data, "NAME"), ("row " + std::to_string(i)).c_str());
    f4assign(d4field(data, "N"), std::to_string(i * 0.25).c_str());
    f4assign(d4field(data, "QRECID"), std::to_string(i).c_str());
    ASSERT_EQ(d4append(data), 0);
  }
  d4close(data);
}

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

int Import(const std::string& table, const std::string& gsa, std::string* out) {
  testing::internal::CaptureStdout();
  const int result = GsaImporter().Import(table.c_str(), gsa.c_str(), "Thu Mar  7 10:00:00 2024");
  *out = testing::internal::GetCapturedStdout();
  return result;
}

TEST(GsaImporterTest, ProgressAndRecords) {
  TempDir dir;
  const std::string table = dir.File("area_gsa.x.dbf");
  MakeTable(table, 250);
  std::string out;
  ASSERT_EQ(Import(table, dir.File("area.gsa"), &out), 1);
  EXPECT_EQ(out, "Opened file...\nIndexing to QRECID\nReading: " + table +
                     "\nAdded 100 of 250...\rAdded 200 of 250...\rAdded 250 of 250...\n");
  // The index made on the table is gone again.
  EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"area_gsa.x.dbf", "area.gsa"}));

  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir.File("area.gsa").c_str());
  ASSERT_NE(file, nullptr);
  char stamp[64];
  ASSERT_EQ(DlFileGetAttribute(file, 3, stamp, 63), 1);
  EXPECT_STREQ(stamp, "Thu Mar  7 10:00:00 2024");
  for (int r : {1, 100, 101, 250}) {
    ASSERT_EQ(DlFileSearchInt(file, r), 1);
    char text[32];
    ASSERT_EQ(DlFieldGetString(DlFieldGet(file, "NAME"), nullptr, text, 31), 1);
    EXPECT_EQ(std::string(text), "row " + std::to_string(r));
    EXPECT_EQ(DlFieldGetNum(DlFieldGet(file, "N")), r * 25);
  }
  DlTerm(context);
}

TEST(GsaImporterTest, EmptyTable) {
  TempDir dir;
  MakeTable(dir.File("t.dbf"), 0);
  std::string out;
  ASSERT_EQ(Import(dir.File("t.dbf"), dir.File("t.gsa"), &out), 1);
  EXPECT_NE(out.find("Added 0 of 0...\n"), std::string::npos) << out;
}

TEST(GsaImporterTest, TablesThatCannotBeWritten) {
  TempDir dir;
  std::string out;
  EXPECT_EQ(Import(dir.File("missing.dbf"), dir.File("m.gsa"), &out), 0);
  EXPECT_EQ(out, "Error opening " + dir.File("missing.dbf") + "\n");

  MakeTable(dir.File("memo.dbf"), 3, true);
  EXPECT_EQ(Import(dir.File("memo.dbf"), dir.File("memo.gsa"), &out), 0);
  EXPECT_EQ(out, "Opened file...\nIndexing to QRECID\n.DBF file does not contain valid fields!\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("memo.gsa")));

  // A record larger than an empty page: a clear failure, not a loop.
  {
    Code4 code;
    ASSERT_EQ(code.init(), 0);
    std::vector<FIELD4INFO> fields;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("T" + std::to_string(i));
    for (const std::string& name : names) fields.push_back({const_cast<char*>(name.c_str()), 'C', 250, 0, 0});
    fields.push_back({const_cast<char*>("QRECID"), 'N', 12, 0, 0});
    fields.push_back({nullptr, 0, 0, 0, 0});
    DATA4* data = d4create(&code, dir.File("wide.dbf").c_str(), fields.data(), nullptr);
    ASSERT_NE(data, nullptr);
    d4appendStart(data);
    for (int i = 0; i < 40; ++i)
      f4assign(d4field(data, names[size_t(i)].c_str()), std::string(250, char('a' + i % 26)).c_str());
    f4assign(d4field(data, "QRECID"), "1");
    ASSERT_EQ(d4append(data), 0);
    d4close(data);
  }
  EXPECT_EQ(Import(dir.File("wide.dbf"), dir.File("wide.gsa"), &out), 0);
  EXPECT_NE(out.find("Error: Record does not fit an empty page"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("wide.gsa")));
  EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"memo.dbf", "memo.fpt", "wide.dbf"}));
}

// An index that cannot be made fails the import: records read out of key
// order would make a short or unordered file.
TEST(GsaImporterTest, IndexThatCannotBeMade) {
  struct NoIndexFiles : platform::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    int Open(std::string_view path, unsigned flags, int permission) override {
      if ((flags & platform::kCreate) && path.size() > 4 && path.substr(path.size() - 4) == ".cdx") {
        errno = EACCES;
        return -1;
      }
      return target_.Open(path, flags, permission);
    }
  } env(platform::Env::Current());
  TempDir dir;
  MakeTable(dir.File("t.dbf"), 5);
  platform::ScopedEnv scoped(env);
  std::string out;
  EXPECT_EQ(Import(dir.File("t.dbf"), dir.File("t.gsa"), &out), 0);
  EXPECT_EQ(out, "Opened file...\nIndexing to QRECID\nUnable to create index.\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.gsa")));
}

}  // namespace
