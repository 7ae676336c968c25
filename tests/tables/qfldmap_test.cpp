#include "tables/qfldmap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::Lines;

class FieldMapTest : public tablestest::TablesTest {};

void AddFields(CQmsRecord& record, std::vector<std::pair<const char*, int>> fields) {
  for (const auto& [name, width] : fields) record.Add(name, width);
}

std::vector<std::pair<int, int>> Entries(const CQmsFieldMap& map) {
  std::vector<std::pair<int, int>> entries;
  for (int i = 0;; i++) {
    int inner, outer;
    if (!map.GetOneMapping(i, inner, outer)) break;
    entries.emplace_back(inner, outer);
  }
  return entries;
}

TEST_F(FieldMapTest, MapByNamesIgnoresCaseAndDropsTheUnmatched) {
  CQmsRecord inner, outer;
  AddFields(inner, {{"A", 5}, {"B", 5}, {"C", 5}});
  AddFields(outer, {{"c", 5}, {"x", 5}, {"a", 5}});
  inner.Lock();
  CQmsFieldMap map;
  map.UseRecords(inner, outer);
  EXPECT_EQ(map.GetInnerRec().GetLock(), 0);  // the copies are unlocked
  EXPECT_EQ(inner.GetLock(), 1);
  map.MapByNames();
  EXPECT_EQ(Entries(map), (std::vector<std::pair<int, int>>{{0, 2}, {2, 0}}));
  EXPECT_EQ(map.ConvertOuterToInnerFld(0), 2);
  EXPECT_EQ(map.ConvertInnerToOuterFld(0), 2);
  EXPECT_EQ(map.ConvertInnerToOuterFld(1), -1);
  EXPECT_EQ(map.GetInnerMapping(1), 2);
  EXPECT_EQ(map.GetOuterMapping(2), -1);
  int inner1 = 7, outer1 = 7;
  EXPECT_FALSE(map.GetOneMapping(-1, inner1, outer1));
  EXPECT_EQ(inner1, -1);
  EXPECT_EQ(outer1, -1);

  CQmsRecord empty;
  map.UseRecords(inner, empty);
  EXPECT_EQ(CodeOf([&] { map.MapByNames(); }), QMS_SEVERE_INVALID_FIELD_MAP);
  EXPECT_NE(ErrorLog().find("*** CQmsFieldMap::MapByNames\n"), std::string::npos);
  EXPECT_NE(ErrorLog().find("MapByNames failed\n"), std::string::npos);
}

TEST_F(FieldMapTest, MapFromFieldToFieldFillsFreeEntries) {
  CQmsRecord inner, outer;
  AddFields(inner, {{"A", 10}, {"B", 10}, {"C", 10}});
  AddFields(outer, {{"x", 30}, {"y", 4}, {"z", 10}});
  CQmsFieldMap map;
  map.UseRecords(inner, outer);
  EXPECT_EQ(map.MapFromFieldToField("A", "x"), 20);
  EXPECT_EQ(map.GetCount(), 3);
  EXPECT_EQ(Entries(map), (std::vector<std::pair<int, int>>{{0, 0}, {-1, -1}, {-1, -1}}));
  EXPECT_STREQ(map.GetWarning(),
               "      Data Source Input field: x is 20 chars longer than Record Prototype field: A\n");
  EXPECT_EQ(map.MapFromFieldToField("b", "Y"), -6);
  EXPECT_EQ(map.MapFromFieldToField("C", "x"), 20);  // one outer field, two entries
  EXPECT_EQ(tablestest::Count(map.GetWarning(), "chars longer"), 2);
  EXPECT_EQ(CodeOf([&] { map.MapFromFieldToField("A", "z"); }), QMS_SEVERE_INVALID_FIELD_MAP);

  int inners[4] = {9, 9, 9, 9};
  map.ConvertOuterToInnerFlds(0, inners);
  EXPECT_EQ(inners[0], 0);
  EXPECT_EQ(inners[1], 2);
  EXPECT_EQ(inners[2], -1);

  // An outer name that is not found keeps the inner half; RemoveNullMappings drops it.
  CQmsFieldMap partial;
  partial.UseRecords(inner, outer);
  EXPECT_EQ(CodeOf([&] { partial.MapFromFieldToField("A", "nope"); }), QMS_SEVERE_INVALID_FIELD_MAP);
  EXPECT_EQ(partial.GetInnerMapping(0), 0);
  partial.RemoveNullMappings();
  EXPECT_EQ(partial.GetCount(), 0);
  int none[1] = {9};
  partial.ConvertOuterToInnerFlds(0, none);
  EXPECT_EQ(none[0], -1);
}

TEST_F(FieldMapTest, FillMappedFieldsConvertsToTheInnerTypes) {
  CQmsRecord inner, outer;
  inner.Add("COUNT", QMS_VARIANT_INT, 6, 0);
  inner.Add("NAME", 10);
  outer.Add("name", 20);
  outer.Add("count", 20);
  CQmsFieldMap map;
  map.UseRecords(inner, outer);
  map.MapByNames();

  CQmsRecord row;
  row = outer;
  row.SetFieldByName("COUNT", "12abc");
  row.SetFieldByName("NAME", "Durham");
  CQmsRecord target;
  target = inner;
  map.FillMappedFields(target, row);
  EXPECT_EQ(target.GetFieldByName("COUNT")->GetType(), QMS_VARIANT_INT);
  EXPECT_EQ(static_cast<int>(*target.GetFieldByName("COUNT")), 12);
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByName("NAME")), "Durham");

  CQmsRecord emptyTarget;
  EXPECT_EQ(CodeOf([&] { map.FillMappedFields(emptyTarget, row); }), QMS_SEVERE_PROTOTYPE_INVALID);
  CQmsRecord narrowRow;
  narrowRow.Add("ONLY", 3);
  EXPECT_EQ(CodeOf([&] { map.FillMappedFields(target, narrowRow); }), QMS_SEVERE_INVALID_ARGUMENT);
  EXPECT_NE(ErrorLog().find("FillMappedFields failed\n"), std::string::npos);

  // An assigned map carries its own entries.
  CQmsFieldMap copy;
  copy = map;
  map.Clear();
  EXPECT_EQ(map.GetCount(), 0);
  EXPECT_EQ(copy.GetCount(), 2);
  EXPECT_EQ(copy.GetInnerRec().GetCount(), 2);
}

TEST_F(FieldMapTest, DumpWritesBothRecordsThenTheMap) {
  CQmsRecord inner, outer;
  AddFields(inner, {{"A", 5}});
  AddFields(outer, {{"A", 7}});
  CQmsFieldMap map;
  map.UseRecords(inner, outer);
  map.MapByNames();
  map.OpenDump("map.log");
  map.Dump(1);
  map.CloseDump();
  std::string records = testsupport::ReadAll(dir_.File("Reslt.log"));
  EXPECT_EQ(records.find("InnerRec:\n\nCQmsRecord(s):\nRecord Length: 5\n"), 0u) << records;
  EXPECT_NE(records.find("OuterRec:\n\nCQmsRecord(s):\nRecord Length: 7\n"), std::string::npos);
  std::vector<std::string> lines = Lines(testsupport::ReadAll(dir_.File("map.log")));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], "MapSize: 1");
  EXPECT_EQ(lines[2], "CQmsFieldMap ID: " + std::to_string(map.GetObjectID()));
  EXPECT_EQ(lines[4], "   i   InnerMap[i]   OuterMap[i]");
  EXPECT_EQ(lines[5], " -------------------------------");
  EXPECT_EQ(lines[6], "   0          0             0");
}

}  // namespace
