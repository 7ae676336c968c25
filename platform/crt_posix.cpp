// The glibc implementation of the C runtime services of crt.h.
#include "platform/crt.h"

#include <langinfo.h>
#include <locale.h>
#include <malloc.h>
#include <stdlib.h>

#include "platform/env.h"

namespace platform {

size_t HeapBlockSize(void* block) { return block ? malloc_usable_size(block) : 0; }

namespace {

// The C locale object, made once; lives to the end of the process.
locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return c;
}

}  // namespace

double StrtodC(const char* text, char** end) {
  locale_t c = CLocale();
  if (c == locale_t(0)) return strtod(text, end);
  return strtod_l(text, end, c);
}

std::string UserLocaleName(LocaleCategory category) {
  Env& env = Env::Current();
  const char* names[] = {"LC_ALL", category == LocaleCategory::kTime ? "LC_TIME" : "LC_NUMERIC",
                         "LANG"};
  for (const char* name : names) {
    const char* value = env.GetEnv(name);
    if (value && *value) return value;
  }
  return "C";
}

bool QueryLocale(std::string_view name, LocaleFacts* facts) {
  std::string text(name);
  locale_t loc = newlocale(LC_ALL_MASK, text.c_str(), locale_t(0));
  if (loc == locale_t(0)) return false;
  facts->dateFormat = nl_langinfo_l(D_FMT, loc);
  facts->decimalPoint = nl_langinfo_l(RADIXCHAR, loc);
  facts->thousandsSeparator = nl_langinfo_l(THOUSEP, loc);
  facts->grouping = nl_langinfo_l(GROUPING, loc);
  freelocale(loc);
  return true;
}

}  // namespace platform
