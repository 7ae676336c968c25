// lio: the command line of Layerio's foundation.
//
//   lio unit VALUE FROM TO   VALUE converted from unit FROM to unit TO (unit
//                            codes 0..37 or names such as "mi", "sq km"),
//                            printed with %.17g
//   lio locale               the date order, date separator, decimal and
//                            thousands separators and digit grouping of the
//                            user's locale (LC_ALL, LC_TIME / LC_NUMERIC, LANG)
//
// Exit status: 0 done, 1 the request cannot be carried out, 2 usage.
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/foundation.h"

namespace {

using namespace layerio;

int Usage() {
  std::fprintf(stderr,
               "usage: lio unit VALUE FROM TO\n"
               "       lio locale\n");
  return 2;
}

// A unit code given as its number or its name.
bool ParseUnit(const char* text, int* code) {
  int32_t number = 0;
  const char* end = NumParseLongPlain(text, &number);
  if (end && *end == 0) {
    if (!UnitIsValid(number)) return false;
    *code = number;
    return true;
  }
  return UnitFromName(text, code) && UnitIsValid(*code);
}

int UnitCommand(int argc, char** argv) {
  if (argc != 5) return Usage();
  double value = 0;
  const char* end = NumParseDouble(argv[2], &value);
  if (!end || *end) {
    std::fprintf(stderr, "lio: not a number: %s\n", argv[2]);
    return 1;
  }
  int from = 0, to = 0;
  for (int k = 0; k < 2; ++k) {
    const char* text = argv[3 + k];
    if (!ParseUnit(text, k == 0 ? &from : &to)) {
      std::fprintf(stderr, "lio: unknown unit: %s\n", text);
      return 1;
    }
  }
  if (UnitIsLinear(from) != UnitIsLinear(to)) {
    char a[64], b[64];
    UnitName(from, a, sizeof a);
    UnitName(to, b, sizeof b);
    std::fprintf(stderr, "lio: %s and %s do not measure the same kind of quantity\n", a, b);
    return 1;
  }
  double out = 0;
  UnitConvert(&out, to, value, from);
  std::printf("%.17g\n", out);
  return 0;
}

const char* OrderName(int order) {
  switch (order) {
    case 0:
      return "month-day-year";
    case 1:
      return "day-month-year";
    case 2:
      return "year-month-day";
    case 5:
      return "year-day-month";
    default:
      return "unknown";
  }
}

int LocaleCommand(int argc) {
  if (argc != 2) return Usage();
  LocaleLoadDateFormat();
  LocaleLoadNumberFormat();
  int16_t order = 0;
  char separator = 0;
  DateFormatGet(1, &order, &separator);
  char thousands = LocaleThousandSeparator();
  std::printf("date order: %d (%s)\n", order, OrderName(order));
  std::printf("date separator: %c\n", separator);
  std::printf("decimal separator: %c\n", LocaleDecimalSeparator());
  if (thousands) {
    std::printf("thousands separator: %c\n", thousands);
  } else {
    std::printf("thousands separator: (none)\n");
  }
  std::printf("grouping: %d\n", LocaleGrouping());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  if (!ErrorStackCreate()) {
    std::fprintf(stderr, "lio: out of memory\n");
    return 1;
  }
  int status = RunGuarded(1, [&]() -> int {
    if (std::strcmp(argv[1], "unit") == 0) return UnitCommand(argc, argv);
    if (std::strcmp(argv[1], "locale") == 0) return LocaleCommand(argc);
    return Usage();
  });
  ErrorStackDestroy();
  return status;
}
