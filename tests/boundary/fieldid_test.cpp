#include "boundary/fieldid.h"

#include <gtest/gtest.h>

namespace {

TEST(FieldIdTest, CallerFormatsMustFitTheField) {
  const struct {
    const char* format;
    uint32_t type;
    bool fits;
    int length;
    char conversion;
  } cases[] = {
      {"%d", 'N', true, 0, 'd'},
      {"%i", 'N', true, 0, 'i'},
      {"Pop: %-+ #08.3ld!", 'N', true, 1, 'd'},
      {"%llu", 'N', true, 2, 'u'},
      {"%X and 100%%", 'N', true, 0, 'X'},
      {"%o", 'N', true, 0, 'o'},
      {"%s", 'N', false, 0, 0},
      {"%f", 'N', false, 0, 0},  // the stored number is whole
      {"%lld %d", 'N', false, 0, 0},
      {"%n", 'N', false, 0, 0},
      {"%*d", 'N', false, 0, 0},
      {"%.*d", 'N', false, 0, 0},
      {"%1000d", 'N', false, 0, 0},  // widths of at most three digits
      {"%.1000d", 'N', false, 0, 0},
      {"%lll", 'N', false, 0, 0},
      {"%hd", 'N', false, 0, 0},
      {"%", 'N', false, 0, 0},
      {"100%%", 'N', false, 0, 0},  // no conversion at all
      {"[%10.4s]", 'C', true, 0, 's'},
      {"%ls", 'C', false, 0, 0},
      {"%d", 'C', false, 0, 0},
      {"%s%s", 'C', false, 0, 0},
      {"%s", 'L', false, 0, 0},
      {nullptr, 'C', false, 0, 0},
  };
  for (const auto& c : cases) {
    int length = -1;
    char conversion = 0;
    EXPECT_EQ(DlFormatFits(c.format, c.type, &length, &conversion), c.fits)
        << (c.format ? c.format : "null");
    if (c.fits) {
      EXPECT_EQ(length, c.length) << c.format;
      EXPECT_EQ(conversion, c.conversion) << c.format;
    }
  }
}

}  // namespace
