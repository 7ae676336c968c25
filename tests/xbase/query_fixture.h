// A table of items for the query tests: names that share their first
// letters, codes and amounts, with tags on some of their expressions.
#pragma once

#include <string>

#include "tests/xbase/index_fixture.h"
#include "tests/xbase/xbase_fixture.h"

namespace xbasetest {

// 400 items: NAME (mixed case, many sharing their first letters), CODE (a
// number as text), AMOUNT; tags on NAME, UPPER(NAME) and VAL(CODE). Every
// ninth record is deleted.
inline DATA4* CreateItems(TestCode4* c4, const std::string& path) {
  FieldList fields;
  fields.Add("NAME", 'C', 10).Add("CODE", 'C', 4).Add("AMOUNT", 'N', 8, 2);
  TagList tags;
  tags.Add("NAME", "NAME").Add("UNAME", "UPPER(NAME)").Add("VCODE", "VAL(CODE)");
  DATA4* data = d4create(c4, path.c_str(), fields.get(), tags.get());
  if (data == nullptr) return nullptr;
  static const char* kStarts[] = {"B", "Ba", "Bar", "bo", "C", "Ca", "Cat", "D", "Do", "E", "Eve", "A"};
  uint32_t seed = 7;
  for (int i = 0; i < 400; i++) {
    seed = seed * 1103515245u + 12345u;
    std::string name = kStarts[(seed >> 8) % 12];
    for (unsigned k = 0; k < (seed >> 12) % 6; k++) name += char('a' + (seed >> (14 + 3 * k)) % 8);
    std::string code = std::to_string((seed >> 3) % 1000);
    std::string amount = std::to_string((seed >> 16) % 100) + ".25";
    if (AppendRow(data, {{"NAME", name}, {"CODE", code}, {"AMOUNT", amount}}) != 0) return nullptr;
    if (i % 9 == 4) {
      d4delete(data);
      if (d4write(data, -1) != 0) return nullptr;
    }
  }
  return data;
}

}  // namespace xbasetest
