// C runtime services beyond the standard library that the libraries need,
// kept behind the seam with the rest of the host's facilities:
//   - the usable size of a heap block (what the original platform's heap
//     reported for every block);
//   - number conversion in the C locale whatever locale the host process has
//     set (no call here or anywhere else sets a locale);
//   - the facts of a named host locale, read with newlocale/nl_langinfo_l.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The usable size of a block from malloc/realloc; 0 for null.
size_t HeapBlockSize(void* block);

// strtod of the C locale ("." decimal point).
double StrtodC(const char* text, char** end);

// Categories of the user's locale.
enum class LocaleCategory { kTime, kNumeric };

// The locale the C library would take for a category from the environment
// (LC_ALL, then LC_TIME or LC_NUMERIC, then LANG; "C" when none is set),
// read through Env::GetEnv so that tests can pin it.
std::string UserLocaleName(LocaleCategory category);

struct LocaleFacts {
  std::string dateFormat;          // strftime form of a date, e.g. "%m/%d/%y"
  std::string decimalPoint;        // e.g. "." or ","
  std::string thousandsSeparator;  // "" when the locale has none
  std::string grouping;            // group sizes as localeconv gives them
};

// The facts of a named locale; false when the host does not have it.
bool QueryLocale(std::string_view name, LocaleFacts* facts);

}  // namespace platform
