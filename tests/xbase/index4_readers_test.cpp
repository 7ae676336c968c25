// Indexes built and kept by the engine read by an independent tool
// (index_dump of libdbd-xbase-perl) and by the tests' own reader of the
// format, against (key, record) lists computed from the rows alone; and a
// real FoxPro index read by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/xbase/index_fixture.h"
#include "tests/xbase/oracle.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::Entries;
using xbasetest::FieldList;
using xbasetest::FileReader;
using xbasetest::Quoted;
using xbasetest::RunCommand;
using xbasetest::TagEntries;
using xbasetest::TagList;
using xbasetest::TestCode4;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRows = 20000;
constexpr int kChanges = 2000;
#else
constexpr int kRows = 200000;
constexpr int kChanges = 20000;
#endif
constexpr long long kFilterBelow = 500000000000LL;

struct Row {
  long long num;
  std::string name;
  bool deleted = false;
};

// (key text, record) as index_dump prints them: numbers in decimal, names
// without their trailing blanks.
using Listing = std::vector<std::pair<std::string, long>>;

// The five tags' expected listings, from the rows alone. unique: the record
// each distinct name's entry belongs to (its first record after a build).
std::map<std::string, Listing> Expected(const std::vector<Row>& rows, const std::map<std::string, long>& unique) {
  std::vector<std::pair<long long, long>> nums;
  Listing names, filtered, uniq;
  for (size_t i = 0; i < rows.size(); i++) {
    long rec = long(i + 1);
    nums.emplace_back(rows[i].num, rec);
    names.emplace_back(rows[i].name, rec);
    if (rows[i].num < kFilterBelow) filtered.emplace_back(rows[i].name, rec);
  }
  for (const auto& [name, rec] : unique) uniq.emplace_back(name, rec);
  std::sort(nums.begin(), nums.end());
  std::sort(names.begin(), names.end());
  std::sort(filtered.begin(), filtered.end());
  std::sort(uniq.begin(), uniq.end());
  Listing numbers;
  for (const auto& [num, rec] : nums) numbers.emplace_back(std::to_string(num), rec);
  return {{"NUM", numbers}, {"NAME", names}, {"NAMEDOWN", names}, {"CHEAP", filtered}, {"ONCE", uniq}};
}

std::map<std::string, long> FirstRecords(const std::vector<Row>& rows) {
  std::map<std::string, long> first;
  for (size_t i = 0; i < rows.size(); i++) first.emplace(rows[i].name, long(i + 1));
  return first;
}

// index_dump's listing of every tag, the tools run side by side.
bool DumpAll(const std::string& cdx, const TempDir& dir, std::map<std::string, Listing>* out) {
  const std::vector<std::pair<std::string, std::string>> tags = {
      {"NUM", "num"}, {"NAME", "char"}, {"NAMEDOWN", "char"}, {"CHEAP", "char"}, {"ONCE", "char"}};
  std::string command = "(";
  for (const auto& [tag, type] : tags) {
    command += "index_dump --type=" + type + " " + Quoted(cdx) + " " + tag + " > " + Quoted(dir.File(tag + ".txt")) + " & ";
  }
  command += "wait) 2>&1";
  std::string ignored;
  if (!RunCommand(command, &ignored)) return false;
  for (const auto& [tag, type] : tags) {
    Listing listing;
    std::string text = ReadAll(dir.File(tag + ".txt"));
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      size_t space = line.rfind(' ');
      if (space != std::string::npos) listing.emplace_back(line.substr(0, space), std::stol(line.substr(space + 1)));
      at = end + 1;
    }
    (*out)[tag] = listing;
  }
  return true;
}

// The independent reader's entries of a tag, as listings.
Listing AsListing(const Entries& entries, bool number) {
  Listing out;
  for (const auto& [key, rec] : entries) {
    if (!number) {
      out.emplace_back(key.substr(0, key.find_last_not_of(' ') + 1), rec);
      continue;
    }
    // The key form of a double: sign bit set for values not below zero.
    uint64_t bits = 0;
    for (unsigned char c : key) bits = bits << 8 | c;
    bits = (bits & (uint64_t(1) << 63)) ? bits & ~(uint64_t(1) << 63) : ~bits;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    out.emplace_back(std::to_string((long long)value), rec);
  }
  return out;
}

void ExpectFile(const std::string& cdx, const std::map<std::string, Listing>& expected) {
  FileReader reader(ReadAll(cdx));
  reader.blankTags = {"NAME", "NAMEDOWN", "CHEAP", "ONCE"};
  auto image = reader.Read();
  ASSERT_EQ(image.error, "");
  EXPECT_TRUE(image.unaccounted.empty()) << image.unaccounted.size() << " blocks neither reached nor free";
  ASSERT_EQ(image.tags.size(), expected.size());
  for (const auto& tag : image.tags) {
    EXPECT_EQ(AsListing(tag.entries, tag.name == "NUM"), expected.at(tag.name)) << tag.name;
  }
}

std::string RandomName(std::mt19937& random) {
  std::string name;
  int length = 1 + int(random() % 20);
  for (int i = 0; i < length; i++) name += char('A' + random() % 26);
  // Short names repeat: the unique tag has work.
  if (random() % 8 == 0) name = name.substr(0, 2);
  return name;
}

long long RandomNumber(std::mt19937_64& random) { return (long long)(random() % 1000000000000ULL); }

TEST(IndexReaders, BuiltAndMaintainedTagsReadByIndexDump) {
  if (!xbasetest::HaveCommand("command -v index_dump")) GTEST_SKIP() << "index_dump (libdbd-xbase-perl) missing";
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());  // reads the index file while it is open
  std::mt19937 random(2024);
  std::mt19937_64 numbers(99);
  std::vector<Row> rows;
  FieldList fields;
  fields.Add("NUM", 'N', 12).Add("NAME", 'C', 20);
  std::string path = dir.File("big.dbf");
  DATA4* data = d4create(&c4, path.c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < kRows; i++) {
    rows.push_back({RandomNumber(numbers), RandomName(random)});
    ASSERT_EQ(AppendRow(data, {{"NUM", std::to_string(rows.back().num)}, {"NAME", rows.back().name}}), 0);
  }
  TagList tags;
  tags.Add("NUM", "NUM").Add("NAME", "NAME").Add("NAMEDOWN", "NAME", "", 0, 10);
  tags.Add("CHEAP", "NAME", "NUM < 500000000000").Add("ONCE", "NAME", "", r4uniqueContinue);
  INDEX4* index = i4create(data, nullptr, tags.get());
  ASSERT_NE(index, nullptr);
  ASSERT_EQ(d4update(data), 0);
  const std::string cdx = dir.File("big.cdx");
  std::map<std::string, long> once = FirstRecords(rows);
  auto expected = Expected(rows, once);
  std::map<std::string, Listing> dumped;
  ASSERT_TRUE(DumpAll(cdx, dir, &dumped));
  for (const auto& [tag, listing] : expected) EXPECT_EQ(dumped[tag], listing) << tag;

  // Rewrites that change keys, deletes and appends, kept by key maintenance.
  for (int i = 0; i < kChanges; i++) {
    int what = int(random() % 10);
    if (what == 0) {
      rows.push_back({RandomNumber(numbers), RandomName(random)});
      ASSERT_EQ(AppendRow(data, {{"NUM", std::to_string(rows.back().num)}, {"NAME", rows.back().name}}), 0);
      once.emplace(rows.back().name, long(rows.size()));
      continue;
    }
    long rec = long(random() % rows.size()) + 1;
    Row& row = rows[size_t(rec - 1)];
    ASSERT_EQ(d4go(data, rec), 0);
    if (what == 1) {
      d4delete(data);
      row.deleted = true;
    } else {
      std::string old = row.name;
      row.name = RandomName(random);
      if (what < 5) row.num = RandomNumber(numbers);
      f4assign(d4field(data, "NUM"), std::to_string(row.num).c_str());
      f4assign(d4field(data, "NAME"), row.name.c_str());
      // The unique tag drops the old entry; the new name enters only when free.
      auto held = once.find(old);
      if (held != once.end() && held->second == rec && old != row.name) once.erase(held);
      once.emplace(row.name, rec);
    }
    ASSERT_EQ(d4write(data, rec), 0) << i;
  }
  ASSERT_EQ(d4update(data), 0);
  ExpectFile(cdx, Expected(rows, once));

  ASSERT_EQ(d4pack(data), 0);
  std::vector<Row> kept;
  for (const Row& row : rows) {
    if (!row.deleted) kept.push_back(row);
  }
  ASSERT_EQ(d4recCount(data), long(kept.size()));
  expected = Expected(kept, FirstRecords(kept));
  ASSERT_EQ(d4close(data), 0);
  dumped.clear();
  ASSERT_TRUE(DumpAll(cdx, dir, &dumped));
  for (const auto& [tag, listing] : expected) EXPECT_EQ(dumped[tag], listing) << tag;
  ExpectFile(cdx, expected);
  EXPECT_TRUE(c4.reports.empty());
}

// A real FoxPro index: both tags open, every key is found, the tags walk in
// key order.
TEST(IndexReaders, FoxProIndexOpensAndSeeks) {
  TempDir dir;
  for (const char* name : {"issue115.dbf", "issue115.cdx"}) {
    std::string bytes = ReadAll(testsupport::SharedDataPath(std::string("xbase/foxpro/") + name));
    dir.Write(name, bytes);
  }
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("issue115.dbf").c_str());
  ASSERT_NE(data, nullptr);
  INDEX4* index = d4index(data, nullptr);
  if (index == nullptr) index = i4open(data, nullptr);
  ASSERT_NE(index, nullptr);
  ASSERT_EQ(l4numNodes(&index->tags), 2u);
  for (const char* name : {"COD", "DENUMIRE"}) {
    TAG4* tag = i4tag(index, name);
    ASSERT_NE(tag, nullptr) << name;
    Entries entries = TagEntries(tag);
    ASSERT_FALSE(entries.empty()) << name;
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end())) << name;
    d4tagSelect(data, tag);
    for (const auto& [key, rec] : entries) {
      EXPECT_EQ(d4seekN(data, key.data(), int(key.size())), 0) << name << " " << key;
      EXPECT_EQ(d4recNo(data), rec);
    }
  }
  // The tags' keys are the records' own.
  d4tagSelect(data, i4tag(index, "COD"));
  ASSERT_EQ(d4seek(data, "0001"), 0);
  EXPECT_EQ(xbasetest::Trimmed(d4field(data, "DENUMIRE")), "AGENTUL");
  d4tagSelect(data, i4tag(index, "DENUMIRE"));
  ASSERT_EQ(d4seek(data, "AGENTUL"), 0);
  EXPECT_EQ(xbasetest::Trimmed(d4field(data, "COD")), "0001");
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

}  // namespace
