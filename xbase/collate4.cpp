#include "xbase/collate4.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/endian.h"
#include "xbase/d4all.h"
#include "xbase/expr4.h"
#include "xbase/key4.h"

namespace {

constexpr int kWideUnits = 65536;
constexpr int kHeapSecondaries = 480;  // texts this long collect their secondaries on the heap
constexpr int kMaxExpansions = 256;    // a secondary (one byte) indexes the list
constexpr unsigned char kBlankPrimary = 17;

// Expansions of collations 2 and 3, by the index a table's secondary holds.
COLLATE4EXPAND kBuiltInExpansions[5] = {
    {1, 'O', 'E'}, {1, 'A', 'E'}, {1, 'T', 'H'}, {1, 'S', 'S'}, {3, 0, 0}};

struct Collations {
  std::mutex lock;  // loading and wide-table building
  COLLATE4 entries[4];
  COLLATE4EXPAND loadedExpansions[kMaxExpansions + 1];
};

void SetBuiltIn(COLLATE4* entry, const unsigned char (*table)[2]) {
  entry->kind = 6;
  std::memcpy(entry->table, table, sizeof entry->table);
  entry->expansions = kBuiltInExpansions;
  entry->expansion = 1;
  entry->marker = 255;
  entry->noSubsort = 255;
  entry->loaded = 1;
}

Collations& State() {
  static Collations* state = [] {
    auto* s = new Collations;  // outlives static destructors
    for (COLLATE4& entry : s->entries) entry = COLLATE4{};
    s->entries[0].kind = 0;
    s->entries[0].loaded = 1;
    SetBuiltIn(&s->entries[1], collate4tableA);
    SetBuiltIn(&s->entries[2], collate4tableB);
    s->entries[3].kind = 16;
    s->entries[3].marker = 255;
    s->entries[3].noSubsort = 255;
    return s;
  }();
  return *state;
}

// ---- loading collation 4 ----

void Quiet(CODE4*, int, long, const char*, const char*, const char*) {}

// Reads one logical or numeric field of the current record; missing fields
// leave the context in error, which the loader checks at the end.
bool Logical(DATA4* data, const char* name) {
  FIELD4* field = d4field(data, name);
  return field != nullptr && f4true(field) == 1;
}
long Number(DATA4* data, const char* name) {
  FIELD4* field = d4field(data, name);
  return field != nullptr ? f4long(field) : 0;
}
// A character code held as a number or as a one-character text.
long Character(DATA4* data, const char* name) {
  FIELD4* field = d4field(data, name);
  if (field == nullptr) return -1;
  if (field->type == 'C') return static_cast<unsigned char>(*f4ptr(field));
  return f4long(field);
}

// Fills `entry` from the three collation files; false on any failure.
bool LoadFromFiles(CODE4* c4, COLLATE4* entry, COLLATE4EXPAND* expansions) {
  DATA4* info = d4open(c4, "coll4inf");
  if (info == nullptr || d4go(info, 4) != 0 || Logical(info, "ISUNICODE")) {
    if (info) d4close(info);
    return false;
  }
  bool expand = Logical(info, "EXPANREQD"), compress = Logical(info, "COMPREQD");
  bool subsort = Logical(info, "SUBREQD");
  int kind = 0;
  if (Logical(info, "TRANSREQD")) kind = subsort ? (expand || compress ? 6 : 2) : (expand || compress ? 4 : 1);
  COLLATE4 built = COLLATE4{};
  built.kind = kind;
  built.expansion = (subsort || expand) ? 1 : 0;
  built.marker = uint16_t(Number(info, "COMPCHAR"));
  built.noSubsort = uint16_t(Number(info, "NOTAILCHAR"));
  built.lossy = Logical(info, "LOSSINFO") ? 0 : 1;
  long collStart = Number(info, "COLLSTART"), collEnd = Number(info, "COLLEND");
  long compStart = Number(info, "COMPSTART"), compEnd = Number(info, "COMPEND");
  d4close(info);
  if (c4->errorCode < 0 || collEnd - collStart >= 256 || compEnd - compStart >= kMaxExpansions) return false;

  // Characters the file leaves out keep their own code and no secondary.
  for (int c = 0; c < 256; c++) {
    built.table[c][0] = static_cast<unsigned char>(c);
    built.table[c][1] = static_cast<unsigned char>(built.noSubsort);
  }
  DATA4* table = d4open(c4, "collate4");
  if (table == nullptr) return false;
  bool good = true;
  for (long rec = collStart; good && rec <= collEnd; rec++) {
    good = d4go(table, rec) == 0;
    long primary = Number(table, "TRANS_CODE");
    long secondary = built.expansion == 1 ? Number(table, "SBSORTCODE") : built.noSubsort;
    good = good && primary >= 0 && primary <= 255 && secondary >= 0 && secondary <= 255;
    if (good) {
      built.table[rec - collStart][0] = static_cast<unsigned char>(primary);
      built.table[rec - collStart][1] = static_cast<unsigned char>(secondary);
    }
  }
  d4close(table);
  if (!good || c4->errorCode < 0) return false;

  int count = 0;
  if (compStart <= compEnd) {
    DATA4* list = d4open(c4, "compres4");
    if (list == nullptr) return false;
    for (long rec = compStart; good && rec <= compEnd; rec++) {
      good = d4go(list, rec) == 0;
      long first = Character(list, "CHAR1"), second = Character(list, "CHAR2");
      good = good && first >= 0 && first <= 255 && second >= 0 && second <= 255;
      if (good) expansions[count++] = {uint8_t(Logical(list, "IS_EXPAND") ? 1 : 2),
                                       static_cast<unsigned char>(first),
                                       static_cast<unsigned char>(second)};
    }
    d4close(list);
    if (!good || c4->errorCode < 0) return false;
  }
  expansions[count] = {3, 0, 0};
  built.expansions = expansions;
  built.loaded = 1;
  *entry = built;
  return true;
}

// Loads collation 4 with every report of the loader kept quiet: a failure
// is one -1090 for the caller.
bool Load(CODE4* c4, COLLATE4* entry, COLLATE4EXPAND* expansions) {
  auto callback = c4->errorCallback;
  int standing = c4->errorCode;
  c4->errorCallback = &Quiet;
  c4->errorCode = 0;
  bool loaded = LoadFromFiles(c4, entry, expansions);
  c4->errorCallback = callback;
  c4->errorCode = standing;
  return loaded;
}

bool BuildWide(COLLATE4* collation) {
  if (collation->wide != nullptr) return true;
  auto* wide = static_cast<unsigned char*>(u4alloc(long(kWideUnits) * 3));
  if (wide == nullptr) return false;
  for (int unit = 0; unit < kWideUnits; unit++) {
    unsigned primary = unit < 256 ? collation->table[unit][0] : unsigned(unit);
    unsigned secondary = unit < 256 ? collation->table[unit][1] : collation->noSubsort;
    wide[3 * unit] = static_cast<unsigned char>(primary >> 8);
    wide[3 * unit + 1] = static_cast<unsigned char>(primary);
    wide[3 * unit + 2] = static_cast<unsigned char>(secondary);
  }
  collation->wide = wide;
  return true;
}

// The secondaries of a key: a local area for short texts, the heap beyond.
class Secondaries {
 public:
  explicit Secondaries(int capacity)
      : data_(capacity < kHeapSecondaries ? local_
                                          : static_cast<unsigned char*>(u4alloc(capacity > 0 ? capacity : 1))),
        capacity_(capacity) {}
  ~Secondaries() {
    if (data_ != local_) u4free(data_);
  }
  Secondaries(const Secondaries&) = delete;
  Secondaries& operator=(const Secondaries&) = delete;
  bool ok() const { return data_ != nullptr; }
  void Add(unsigned value, unsigned none) {
    if (value != none && count_ < capacity_) data_[count_++] = static_cast<unsigned char>(value);
  }
  // Appends them after the primaries, as many as fit, and zero-fills the rest.
  void Finish(unsigned char* key, int at, int keyLen) const {
    for (int i = 0; i < count_ && at < keyLen; i++) key[at++] = data_[i];
    if (at < keyLen) std::memset(key + at, 0, size_t(keyLen - at));
  }

 private:
  unsigned char local_[kHeapSecondaries];
  unsigned char* data_;
  int capacity_;
  int count_ = 0;
};

// Writes a primary of `width` bytes when it fits.
void PutPrimary(unsigned char* key, int* at, int keyLen, unsigned primary, int width) {
  if (*at + width > keyLen) return;
  if (width == 2) key[(*at)++] = static_cast<unsigned char>(primary >> 8);
  key[(*at)++] = static_cast<unsigned char>(primary);
}

// One unit of a text through the collation: its primaries and secondaries.
// `lookup` gives (primary, secondary) of a unit. False for an expanding
// character whose list entry is not an expansion.
template <typename Lookup>
bool Translate(const COLLATE4* collation, unsigned unit, Lookup lookup, unsigned char* key, int* at,
               int keyLen, int width, Secondaries* secondaries) {
  unsigned primary, secondary;
  lookup(unit, &primary, &secondary);
  if (primary != collation->marker || unit > 255) {
    PutPrimary(key, at, keyLen, primary, width);
    secondaries->Add(secondary, collation->noSubsort);
    return true;
  }
  const COLLATE4EXPAND* entry = collation->expansions;
  for (unsigned i = 0; i < secondary && entry->kind != 3; i++) entry++;
  if (entry->kind != 1) return false;
  for (unsigned char c : {entry->first, entry->second}) {
    unsigned p, s;
    lookup(c, &p, &s);
    PutPrimary(key, at, keyLen, p, width);
    secondaries->Add(s, collation->noSubsort);
  }
  return true;
}

}  // namespace

COLLATE4* collate4entry(int number) {
  if (number < 1 || number > 4) return nullptr;
  return &State().entries[number - 1];
}

int collate4ready(CODE4* c4, int number) {
  if (number == 1) return 0;  // machine order needs no table
  Collations& state = State();
  COLLATE4* entry = collate4entry(number);
  if (entry != nullptr) {
    std::lock_guard<std::mutex> hold(state.lock);
    if (entry->kind == 16 && c4 != nullptr) Load(c4, entry, state.loadedExpansions);
    if (entry->kind == 6) return 0;
  }
  return error4(c4, e4notSupported, E4_COLLATION);
}

int collate4key(const COLLATE4* collation, unsigned char* key, int keyLen, const char* text,
                int length) {
  while (length > 0 && text[length - 1] == ' ') length--;
  Secondaries secondaries(length);
  if (!secondaries.ok()) return e4memory;
  auto lookup = [collation](unsigned c, unsigned* p, unsigned* s) {
    *p = collation->table[c][0];
    *s = collation->table[c][1];
  };
  int at = 0;
  for (int i = 0; i < length; i++) {
    if (!Translate(collation, static_cast<unsigned char>(text[i]), lookup, key, &at, keyLen, 1,
                   &secondaries)) {
      return e4notSupported;
    }
  }
  secondaries.Finish(key, at, keyLen);
  return at;
}

int collate4keyWide(COLLATE4* collation, unsigned char* key, int keyLen, const char* text,
                    int length) {
  {
    std::lock_guard<std::mutex> hold(State().lock);
    if (!BuildWide(collation)) return e4memory;
  }
  int units = length / 2;
  while (units > 0 && QLoadU16LE(text + 2 * (units - 1)) == ' ') units--;
  Secondaries secondaries(units);
  if (!secondaries.ok()) return e4memory;
  const unsigned char* wide = collation->wide;
  auto lookup = [wide](unsigned u, unsigned* p, unsigned* s) {
    *p = unsigned(wide[3 * u] << 8) | wide[3 * u + 1];
    *s = wide[3 * u + 2];
  };
  int at = 0;
  for (int i = 0; i < units; i++) {
    if (!Translate(collation, QLoadU16LE(text + 2 * i), lookup, key, &at, keyLen, 2, &secondaries)) {
      return e4notSupported;
    }
  }
  secondaries.Finish(key, at, keyLen);
  return at;
}

int collate4compare(const unsigned char* key, const unsigned char* search, int length) {
  constexpr unsigned char kMark = 10;
  int k = 0, s = 0;
  while (k < length && s < length && key[k] >= kMark && search[s] >= kMark) {
    if (key[k] != search[s]) return key[k] < search[s] ? -1 : 1;
    k++;
    s++;
  }
  // Blanks left at the end of either side's primaries match nothing.
  while (k < length && key[k] == kBlankPrimary) k++;
  while (s < length && search[s] == kBlankPrimary) s++;
  bool keyMore = k < length && key[k] >= kMark, searchMore = s < length && search[s] >= kMark;
  if (keyMore != searchMore) return keyMore ? 1 : -1;
  for (; k < length && s < length; k++, s++) {
    if (key[k] != search[s]) return key[k] < search[s] ? -1 : 1;
  }
  return 0;
}

int collate4general(int codePage) { return codePage == 1 ? 3 : 2; }

int collate4fromName(const char* name, int codePage) {
  char text[9];
  std::memcpy(text, name, 8);
  text[8] = 0;
  if (text[0] == 0) return 1;
  if (std::strcmp(text, "GENERAL") == 0) return collate4general(codePage);
  if (text[0] != 'F' || text[1] != 'R' || std::strlen(text) != 7) return -1;
  int number = 0;
  for (int i = 2; i < 7; i++) {
    if (text[i] < '0' || text[i] > '9') return -1;
    number = number * 10 + (text[i] - '0');
  }
  return number >= 1 && number <= 4 ? number : -1;
}

int collate4forTag(CODE4* c4, const EXPR4* expr, char name[8]) {
  std::memset(name, 0, 8);
  bool wide = expr->type == 'W' || expr->type == 'O';
  int codePage = expr->dataFile->codePage;
  int number = wide ? c4->collatingSequenceWide : c4->collatingSequence;
  if (number < 0 || number > 4) return error4(c4, e4notSupported, E4_COLLATION);
  if (number == 0) number = c4->codePage != 0 ? collate4general(codePage) : 1;
  // Only keys made purely of one family of character items are collated.
  for (int i = 0; i < expr->infoN && number != 1; i++) {
    char type = v4functions[expr->info[i].functionI].type;
    bool pure = wide ? (type == 'W' || type == 'O') : type == 'C';
    if (!pure) number = 1;
  }
  if (number == 1) return 1;
  if (number == collate4general(codePage)) {
    std::memcpy(name, "GENERAL", 7);
  } else {
    std::snprintf(name, 8, "FR%05d", number);
  }
  return number;
}
