// The user's date order and separators, the tick clock and colour
// similarity.
//
// The locale is the one the environment names (LC_ALL, LC_TIME or
// LC_NUMERIC, LANG), read through newlocale and nl_langinfo_l: the process's
// own locale is never changed. Separators are single bytes of the system
// charset; a locale whose separator takes several bytes (a UTF-8 no-break
// space, say) is taken to have none.
#include <cstring>
#include <string>

#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/session.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/value.h"
#include "platform/crt.h"
#include "platform/env.h"

namespace layerio {
namespace {

constexpr size_t kLocaleTextLimit = 256;

// The date order and separator of a strftime date form: the order of the
// day, month and year fields, and the first character between two of them.
bool ParseDateFormat(const std::string& form, int16_t* order, char* separator) {
  std::string fields;
  char sep = 0;
  bool sepSeen = false;  // the first text between two fields was looked at
  for (size_t i = 0; i < form.size(); ++i) {
    if (form[i] != '%') {
      if (!sepSeen && !fields.empty() && fields.size() < 3) {
        sepSeen = true;
        // One ASCII byte; a letter of another script (such as the UTF-8
        // year sign of Japanese dates) is no separator of the system charset.
        if (static_cast<unsigned char>(form[i]) < 0x80) sep = form[i];
      }
      continue;
    }
    if (++i >= form.size()) break;
    char c = form[i];
    if (c == 'E' || c == 'O') {  // modifiers
      if (++i >= form.size()) break;
      c = form[i];
    }
    switch (c) {
      case 'd':
      case 'e':
        fields += 'd';
        break;
      case 'm':
      case 'b':
      case 'h':
      case 'B':
        fields += 'm';
        break;
      case 'y':
      case 'Y':
      case 'C':
      case 'G':
        if (fields.find('y') == std::string::npos) fields += 'y';
        break;
      case 'D':  // %m/%d/%y
        fields += "mdy";
        if (!sepSeen) sep = '/';
        sepSeen = true;
        break;
      case 'F':  // %Y-%m-%d
        fields += "ymd";
        if (!sepSeen) sep = '-';
        sepSeen = true;
        break;
      default:
        break;
    }
  }
  if (fields == "mdy") {
    *order = 0;
  } else if (fields == "dmy") {
    *order = 1;
  } else if (fields == "ymd") {
    *order = 2;
  } else if (fields == "ydm") {
    *order = 5;
  } else {
    return false;
  }
  *separator = sep;
  return true;
}

char SingleByte(const std::string& text) { return text.size() == 1 ? text[0] : 0; }

}  // namespace

int16_t LocaleLoadDateFormat() {
  platform::LocaleFacts facts;
  if (!platform::QueryLocale(platform::UserLocaleName(platform::LocaleCategory::kTime), &facts)) {
    return 0;
  }
  if (facts.dateFormat.size() > kLocaleTextLimit) return 0;
  int16_t order = 0;
  char separator = 0;
  if (!ParseDateFormat(facts.dateFormat, &order, &separator)) return 0;
  FoundationState& s = State();
  s.dateOrder = order;
  if (separator) s.dateSeparator = separator;
  return 1;
}

int16_t LocaleLoadNumberFormat() {
  platform::LocaleFacts facts;
  if (!platform::QueryLocale(platform::UserLocaleName(platform::LocaleCategory::kNumeric),
                             &facts)) {
    return 0;
  }
  FoundationState& s = State();
  char decimal = SingleByte(facts.decimalPoint);
  s.decimalSeparator = decimal ? decimal : '.';
  s.thousandSeparator = SingleByte(facts.thousandsSeparator);
  // The first group size; CHAR_MAX or nothing means no grouping.
  unsigned char group = facts.grouping.empty() ? 0 : static_cast<unsigned char>(facts.grouping[0]);
  s.grouping = group >= 1 && group < 127 ? group : 0;
  return 1;
}

void DateFormatGet(int useLocale, int16_t* order, char* separator) {
  const FoundationState& s = State();
  *order = useLocale ? s.dateOrder : 0;
  *separator = useLocale ? s.dateSeparator : '/';
}

int LocaleSeparatorsIgnored() {
  if (const Session* session = CurrentSession()) return session->ignoreLocaleSeparators != 0;
  return State().ignoreSeparators != 0;
}

void LocaleSetIgnoreSeparators(int on) { State().ignoreSeparators = on ? 1 : 0; }

char LocaleDecimalSeparator() {
  return LocaleSeparatorsIgnored() ? '.' : State().decimalSeparator;
}

char LocaleThousandSeparator() {
  return LocaleSeparatorsIgnored() ? ',' : State().thousandSeparator;
}

int LocaleGrouping() { return LocaleSeparatorsIgnored() ? 3 : State().grouping; }

uint32_t ClockTicks() {
  // Milliseconds wrap at 32 bits as the original tick count did.
  uint32_t millis = uint32_t(uint64_t(platform::Env::Current().NowMicros()) / 1000);
  return millis / 10;
}

int32_t ColorSimilarity(uint32_t a, uint32_t b) {
  int32_t sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int32_t d = int32_t((a >> shift) & 0xFF) - int32_t((b >> shift) & 0xFF);
    sum += d * d;
  }
  return 1000 - sum * 1000 / 195075;
}

char* NumUnlocalize(char* text) {
  char thousands = LocaleThousandSeparator();
  char decimal = LocaleDecimalSeparator();
  if (thousands) {
    char* out = text;
    for (const char* p = text; *p; ++p) {
      if (*p != thousands) *out++ = *p;
    }
    *out = 0;
  }
  if (decimal && decimal != '.') {
    if (char* last = std::strrchr(text, decimal)) *last = '.';
  }
  return text;
}

}  // namespace layerio
