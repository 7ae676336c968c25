#include "builder/gsabuild.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "platform/env.h"

namespace {

constexpr const char* kSource = "..\\src\\gsabuild";
// The error locations (source line numbers) the attribute file's failures
// show, one per failure.
constexpr int kLineNoFields = 214;
constexpr int kLineNoKeyField = 222;
constexpr int kLineFieldType = 245;
constexpr int kLineRowsUnreadable = 251;
constexpr int kLineTextTooLong = 262;
constexpr int kLineKeyNotNumber = 280;
constexpr int kLineKeysUnorderedFirst = 283;
constexpr int kLineKeysUnordered = 289;
constexpr int kLineRowsFailed = 294;
constexpr int kLineNumberTooLong = 308;
constexpr int kLineKeyFieldNotNumbers = 332;
constexpr int kLineRowsUnreadableOnWrite = 469;
constexpr int kLineRowsChanged = 475;
constexpr int kLineFileTooLarge = 481;
constexpr int kLineWriteFailed = 489;

// Bytes of a page's own words and its check value around the columns.
constexpr uint32_t kPageWords = kGsaPageDirectory;

std::string_view UpToNul(std::string_view text) {
  size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view TrimTrailing(std::string_view text) {
  while (!text.empty() && platform::AsciiIsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimTrailing(text);
  while (!text.empty() && platform::AsciiIsSpace(text.front())) text.remove_prefix(1);
  return text;
}

// The value of a text column as it is stored, before encoding.
std::string_view TextValue(std::string_view raw, bool trimLeading) {
  raw = UpToNul(raw);
  return trimLeading ? Trim(raw) : TrimTrailing(raw);
}

int FoldedCompare(std::string_view a, std::string_view b) {
  return platform::AsciiCompareIgnoreCase(a, b);
}

bool Report(QError& error, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
bool Report(QError& error, int line, const char* format, ...) {
  char detail[kQErrorDetailSize];
  va_list args;
  va_start(args, format);
  StrFormatV(detail, sizeof detail, format, args);
  va_end(args);
  error.Record(Q_ERROR_EMPTY, detail, kSource, line);
  return false;
}

}  // namespace

// --- numbers ---

size_t GsaDecimal::SignificantDecimals() const {
  size_t n = fraction.size();
  while (n > 0 && fraction[n - 1] == '0') --n;
  return n;
}

bool GsaParseDecimal(std::string_view text, GsaDecimal* out) {
  *out = GsaDecimal{};
  text = Trim(UpToNul(text));
  if (text.empty()) return true;
  size_t p = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    ++p;
  }
  size_t integerStart = p;
  while (p < text.size() && platform::AsciiIsDigit(text[p])) ++p;
  std::string_view integer = text.substr(integerStart, p - integerStart);
  std::string_view fraction;
  if (p < text.size() && text[p] == '.') {
    size_t fractionStart = ++p;
    while (p < text.size() && platform::AsciiIsDigit(text[p])) ++p;
    fraction = text.substr(fractionStart, p - fractionStart);
  }
  if (integer.empty() && fraction.empty()) return false;
  if (p < text.size()) {
    if (text[p] != 'e' && text[p] != 'E') return false;
    // An exponent: read the number whole and write it out in plain digits.
    std::string_view number = text.substr(text[0] == '+' ? 1 : 0);
    double value = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
      return false;
    char plain[400];
    auto written = std::to_chars(plain, plain + sizeof plain, value, std::chars_format::fixed);
    if (written.ec != std::errc()) return false;
    return GsaParseDecimal(std::string_view(plain, size_t(written.ptr - plain)), out);
  }
  while (integer.size() > 0 && integer[0] == '0') integer.remove_prefix(1);
  out->negative = negative;
  out->integer = integer;
  out->fraction = fraction;
  return true;
}

bool GsaDecimalMagnitude(const GsaDecimal& x, uint32_t decimals, uint64_t limit,
                         uint64_t* magnitude) {
  uint64_t m = 0;
  for (char c : x.integer) {
    m = m * 10 + uint64_t(c - '0');
    if (m > limit) return false;
  }
  for (uint32_t i = 0; i < decimals; ++i) {
    m = m * 10 + (i < x.fraction.size() ? uint64_t(x.fraction[i] - '0') : 0);
    if (m > limit) return false;
  }
  *magnitude = m;
  return true;
}

bool GsaScaleDecimal(const GsaDecimal& x, uint32_t decimals, int32_t* out) {
  constexpr uint64_t kLimit = uint64_t(1) << 31;
  uint64_t magnitude = 0;
  if (!GsaDecimalMagnitude(x, decimals, kLimit, &magnitude)) return false;
  if (decimals < x.fraction.size()) {
    // The part cut off is above 0.4: its first digit is above 4, or a 4
    // followed by anything but zeros. Applied to the magnitude, so that a
    // negative value rounds as its positive counterpart does.
    std::string_view rest = std::string_view(x.fraction).substr(decimals);
    if (rest[0] > '4' || (rest[0] == '4' && rest.find_first_not_of('0', 1) != rest.npos))
      ++magnitude;
  }
  if (x.negative) {
    if (magnitude > kLimit) return false;
    *out = int32_t(-int64_t(magnitude));
  } else {
    if (magnitude > kLimit - 1) return false;
    *out = int32_t(magnitude);
  }
  return true;
}

bool GsaScaleNumber(std::string_view text, uint32_t decimals, int32_t* out) {
  *out = 0;
  GsaDecimal x;
  if (!GsaParseDecimal(text, &x)) return true;
  return GsaScaleDecimal(x, decimals, out);
}

bool GsaEmptyNumber(std::string_view text) {
  return UpToNul(text).find_first_not_of(" *") == std::string_view::npos;
}

namespace {

// A stored value printed with its decimals: 725 at 1 is 72.5, -5 at 2 -0.05.
std::string ScaledText(int32_t value, uint32_t decimals) {
  const bool negative = value < 0;
  std::string digits = std::to_string(negative ? -int64_t(value) : int64_t(value));
  if (decimals > 0) {
    if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
    digits.insert(digits.size() - decimals, 1, '.');
  }
  return negative ? "-" + digits : digits;
}

}  // namespace

// --- GsaTextHeap ---

GsaTextHeap::GsaTextHeap(uint32_t capacity) : bytes_(std::max<uint32_t>(capacity, 2), 0) {
  Reset();
}

void GsaTextHeap::Reset() {
  state_ = State{};
  mark_ = State{};
  QStoreU16LE(bytes_.data(), 0);
}

bool GsaTextHeap::Add(std::string_view stored) {
  const uint32_t j = state_.count % kGsaTextGroupStrings;
  const bool newGroup = j == 0;
  if (state_.count >= 0xFFFF) return false;
  bool repeat = false;
  size_t shared = 0;
  if (!newGroup) {
    const std::string& previous = state_.previous;
    repeat = stored == previous;
    while (shared < stored.size() && shared < previous.size() && stored[shared] == previous[shared])
      ++shared;
    shared = std::min<size_t>(shared, kGsaTextMaxShared);
  }
  size_t need = (newGroup ? kGsaTextGroupHeaderSize : 0) +
                (repeat ? 0 : std::max<size_t>(stored.size() - shared, 1));
  if (state_.size + need > bytes_.size()) return false;

  uint32_t size = state_.size;
  if (newGroup) {
    if (state_.count > 0) QStoreU16LE(&bytes_[state_.group], uint16_t(size - state_.group));
    std::memset(&bytes_[size], 0, kGsaTextGroupHeaderSize);
    state_.group = size;
    size += kGsaTextGroupHeaderSize;
  }
  uint8_t* header = &bytes_[state_.group];
  if (repeat) {
    GsaSetTextCode(header, j, kGsaTextRepeat);
  } else {
    GsaSetTextCode(header, j, uint8_t(shared));
    if (shared == stored.size()) {
      bytes_[size++] = kGsaTextEndBit;
    } else {
      std::memcpy(&bytes_[size], stored.data() + shared, stored.size() - shared);
      size += uint32_t(stored.size() - shared);
      bytes_[size - 1] |= kGsaTextEndBit;
    }
  }
  state_.size = size;
  ++state_.count;
  state_.previous.assign(stored);
  QStoreU16LE(bytes_.data(), uint16_t(state_.count));
  return true;
}

void GsaTextHeap::Mark() {
  mark_ = state_;
  if (state_.count > 0) std::memcpy(markHeader_, &bytes_[state_.group], kGsaTextGroupHeaderSize);
}

void GsaTextHeap::ReturnToMark() {
  state_ = mark_;
  // The group open at the mark may have got codes and a link since.
  if (state_.count > 0) std::memcpy(&bytes_[state_.group], markHeader_, kGsaTextGroupHeaderSize);
  QStoreU16LE(bytes_.data(), uint16_t(state_.count));
}

// --- GsaFieldDescriptor ---

bool GsaFieldDescriptor::Build(const std::vector<GsaFieldDef>& fields, GsaRowSource& rows,
                               const std::string& keyField,
                               const std::vector<GsaValueRecord>& descriptions, QError& error) {
  *this = GsaFieldDescriptor{};
  keyName_ = keyField;
  if (fields.empty()) return Report(error, kLineNoFields, "The table has no fields");
  bool haveKey = false;
  for (size_t i = 0; i < fields.size() && !haveKey; ++i) {
    if (platform::AsciiEqualsIgnoreCase(fields[i].name, keyField)) {
      keyField_ = i;
      haveKey = true;
    }
  }
  if (!haveKey) return Report(error, kLineNoKeyField, "The table has no key field %s", keyField.c_str());

  // What the pass over the rows learns of each field.
  struct Stats {
    uint32_t kind = 0;
    uint32_t declared = 0;  // decimals of the field
    uint32_t need = 0;      // decimals its values use
    int64_t limit = 0;      // most decimals at which all its values fit
    size_t longest = 0;     // longest number text
    bool empty = false;     // a value is empty
  };
  std::vector<Stats> stats(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    switch (platform::AsciiUpper(fields[i].type)) {
      case 'C':
      case 'D':
      case 'L':
        stats[i].kind = kGsaTypeText;
        break;
      case 'N':
      case 'F':
        stats[i].kind = kGsaTypeNumber;
        stats[i].declared = fields[i].decimals;
        stats[i].limit = fields[i].decimals;
        break;
      default:
        return Report(error, kLineFieldType, "Field %s has type '%c', which an attribute file cannot store",
                      fields[i].name.c_str(), fields[i].type);
    }
  }
  const bool numberKey = stats[keyField_].kind == kGsaTypeNumber;

  if (!rows.Rewind()) return Report(error, kLineRowsUnreadable, "The rows of the table cannot be read");
  int32_t previousNumber = 0;
  std::string previousText;
  GsaDecimal x;
  while (rows.Next()) {
    ++rows_;
    for (size_t i = 0; i < fields.size(); ++i) {
      Stats& s = stats[i];
      std::string_view value = rows.Value(i);
      if (s.kind == kGsaTypeText) {
        if (TextValue(value, false).size() > kGsaTextMaxLength)
          return Report(error, kLineTextTooLong, "Text of field %s in row %llu is longer than %zu characters",
                        fields[i].name.c_str(), (unsigned long long)rows_, kGsaTextMaxLength);
        continue;
      }
      if (GsaEmptyNumber(value)) {
        s.empty = true;
        continue;
      }
      s.longest = std::max(s.longest, TextValue(value, true).size());
      if (!GsaParseDecimal(value, &x)) continue;  // stored as 0
      s.need = std::max<uint32_t>(s.need,
                                  uint32_t(std::min<size_t>(x.SignificantDecimals(), s.declared)));
      int32_t scaled = 0;
      while (s.limit >= 0 && !GsaScaleDecimal(x, uint32_t(s.limit), &scaled)) --s.limit;
    }
    std::string_view key = rows.Value(keyField_);
    if (numberKey) {
      int32_t number = 0;
      if (!GsaParseDecimal(key, &x) || x.SignificantDecimals() > 0 ||
          !GsaScaleDecimal(x, 0, &number))
        return Report(error, kLineKeyNotNumber, "Key %.*s in row %llu is not a whole 32-bit number",
                      int(std::min<size_t>(key.size(), 40)), key.data(), (unsigned long long)rows_);
      if (rows_ > 1 && number < previousNumber)
        return Report(error, kLineKeysUnorderedFirst, "Keys are not in ascending order at row %llu",
                      (unsigned long long)rows_);
      previousNumber = number;
    } else {
      std::string_view text = TextValue(key, false);
      if (rows_ > 1 && FoldedCompare(text, previousText) < 0)
        return Report(error, kLineKeysUnordered, "Keys are not in ascending order at row %llu",
                      (unsigned long long)rows_);
      previousText.assign(text);
    }
  }
  if (rows.Failed()) return Report(error, kLineRowsFailed, "Reading the rows of the table failed");

  descriptions_ = descriptions;
  for (size_t i = 0; i < fields.size(); ++i) {
    const Stats& s = stats[i];
    GsaColumnPlan plan;
    plan.field = i;
    plan.kind = s.kind;
    GsaFieldEntry entry;
    entry.decimals = fields[i].decimals;
    if (s.kind == kGsaTypeNumber) {
      if (s.limit < int64_t(s.need)) {
        // Beyond 32 bits at the decimals the values use (or even as whole
        // numbers): kept as their texts, since fewer decimals would lose
        // digits the table holds.
        if (s.longest > kGsaTextMaxLength)
          return Report(error, kLineNumberTooLong, "Numbers of field %s are longer than %zu characters",
                        fields[i].name.c_str(), kGsaTextMaxLength);
        plan.kind = kGsaTypeText;
        plan.trimLeading = true;
      } else {
        plan.decimals = std::min<uint32_t>(s.need, uint32_t(s.limit));
        entry.decimals = plan.decimals;
        // A number column has no empty value (the key field's are 0).
        if (s.empty && i != keyField_) {
          plan.kind = kGsaTypeText;
          plan.trimLeading = true;
          plan.scaled = true;
        }
      }
    }
    plan.column = plan.kind == kGsaTypeText ? textColumns_++ : numberColumns_++;
    columns_.push_back(plan);

    StrCopySized(entry.name, fields[i].name.c_str(), kGsaFieldNameSize);
    StrCopySized(entry.longName, fields[i].name.c_str(), kGsaFieldLongNameSize);
    entry.width = fields[i].width;
    entry.type = plan.kind;
    entry.column = plan.column;
    for (const GsaValueRecord& d : descriptions_)
      if (platform::AsciiEqualsIgnoreCase(d.field, entry.name)) ++entry.valueCount;
    entries_.push_back(entry);
  }
  if (numberKey && columns_[keyField_].kind != kGsaTypeNumber)
    return Report(error, kLineKeyFieldNotNumbers, "Key field %s does not hold 32-bit numbers", keyField.c_str());
  return true;
}

std::vector<uint8_t> GsaFieldDescriptor::AreaBytes() const {
  std::vector<uint8_t> area(entries_.size() * kGsaFieldEntrySize +
                            descriptions_.size() * kGsaValueRecordSize);
  uint8_t* p = area.data();
  for (const GsaFieldEntry& e : entries_) {
    GsaWriteFieldEntry(e, p);
    p += kGsaFieldEntrySize;
  }
  for (const GsaValueRecord& d : descriptions_) {
    GsaWriteValueRecord(d, p);
    p += kGsaValueRecordSize;
  }
  return area;
}

GsaDescriptor GsaFieldDescriptor::Header(uint32_t treePosition, uint32_t areaPosition,
                                         const std::string& stamp) const {
  GsaDescriptor d;
  d.treePosition = treePosition;
  d.fieldOffset = areaPosition;
  d.attribute0 = kGsaAttribute0Value;
  d.fieldCount = uint32_t(entries_.size());
  d.valueCount = uint32_t(descriptions_.size());
  StrCopySized(d.stamp, stamp.c_str(), kGsaStampMaxLength + 1);
  StrCopySized(d.keyField, keyName_.c_str(), sizeof d.keyField);
  return d;
}

// --- DLPageBuild ---

DLPageBuild::DLPageBuild(const GsaFieldDescriptor& descriptor)
    : QIndexedFilePageBuild(kGsaBlockSize, 1, 0),
      descriptor_(descriptor),
      heaps_(descriptor.TextColumns(), GsaTextHeap(kGsaBlockSize)) {
  for (uint32_t i = 0; i < descriptor.NumberColumns(); ++i)
    numbers_.push_back(std::make_unique<PackedIntWriter>(kGsaBlockSize));
}

void DLPageBuild::Clear() {
  QIndexedFilePageBuild::Clear();
  for (GsaTextHeap& heap : heaps_) heap.Reset();
  for (auto& writer : numbers_) writer->Reset();
}

uint32_t DLPageBuild::ColumnBytes() const {
  uint32_t total = 0;
  for (const GsaTextHeap& heap : heaps_) total += heap.Size();
  for (const auto& writer : numbers_) total += uint32_t(writer->TotalBytes());
  return total;
}

bool DLPageBuild::AddEntry(const void* key, const void* data, const void* record) {
  const auto* row = static_cast<const GsaRowSource*>(record);
  for (GsaTextHeap& heap : heaps_) heap.Mark();
  for (auto& writer : numbers_) writer->Mark();
  bool fits = true;
  for (const GsaColumnPlan& plan : descriptor_.Columns()) {
    std::string_view value = row->Value(plan.field);
    if (plan.kind == kGsaTypeText) {
      std::string_view text = TextValue(value, plan.trimLeading);
      if (plan.trimLeading && GsaEmptyNumber(value)) {
        text = {};
      } else if (plan.scaled) {
        int32_t number = 0;
        GsaScaleNumber(value, plan.decimals, &number);
        scaled_ = ScaledText(number, plan.decimals);
        text = scaled_;
      }
      stored_.clear();
      GsaTextEncode(text.data(), text.size(), &stored_);
      fits = heaps_[plan.column].Add(stored_);
    } else {
      int32_t number = 0;
      GsaScaleNumber(value, plan.decimals, &number);
      fits = numbers_[plan.column]->Put(number) >= 0;
    }
    if (!fits) break;
  }
  const uint64_t columns = heaps_.size() + numbers_.size();
  fits = fits && uint64_t(Count()) + 1 + ColumnBytes() + 4 * columns + kPageWords <= Usable() &&
         QIndexedFilePageBuild::AddEntry(key, data, record);
  if (!fits) {
    for (GsaTextHeap& heap : heaps_) heap.ReturnToMark();
    for (auto& writer : numbers_) writer->ReturnToMark();
  }
  return fits;
}

bool DLPageBuild::Write(QBlockFile& file) {
  uint8_t* block = Block();
  const uint32_t columns = uint32_t(heaps_.size() + numbers_.size());
  uint32_t at = kGsaPageDirectory + 4 * columns;
  uint32_t i = 0;
  for (const GsaTextHeap& heap : heaps_) {
    QStoreU32LE(block + kGsaPageDirectory + 4 * i++, at - kGsaPageDirectory);
    std::memcpy(block + at, heap.Bytes(), heap.Size());
    at += heap.Size();
  }
  for (const auto& writer : numbers_) {
    QStoreU32LE(block + kGsaPageDirectory + 4 * i++, at - kGsaPageDirectory);
    int32_t length = writer->Join(block + at, Usable() - Count() - at);
    if (length < 0) return false;
    at += uint32_t(length);
  }
  return QIndexedFilePageBuild::Write(file);
}

// --- DLFileBuild ---

namespace {

QIndexedFileBuildParams AttributeFileParams(const std::string& dateText,
                                            const std::string& tempDirectory) {
  QIndexedFileBuildParams params;
  params.pageSize = kGsaBlockSize;
  params.entryKeyLength = 1;
  params.entryDataLength = 0;
  params.pageKeyLength = kGsaKeyWidth;
  params.signature = kGsaSignature;
  params.dateText = dateText;
  params.tempDirectory = tempDirectory;
  return params;
}

}  // namespace

DLFileBuild::DLFileBuild(const char* path, DLPageBuild* page, const GsaColumnPlan& key,
                         const std::string& dateText, const std::string& tempDirectory,
                         QError* error)
    : QIndexedFileBuild(AttributeFileParams(dateText, tempDirectory), path, page, error),
      key_(key) {}

void DLFileBuild::MakeKey(const void* record, uint8_t* key) {
  std::string_view value = static_cast<const GsaRowSource*>(record)->Value(key_.field);
  char text[kGsaKeyWidth + 8];
  if (key_.kind == kGsaTypeNumber) {
    int32_t number = 0;
    GsaScaleNumber(value, 0, &number);
    StrFormat(text, sizeof text, "%12d", int(number));
  } else {
    std::string_view t = TextValue(value, false);
    StrCopySized(text, std::string(t.substr(0, kGsaKeyWidth)).c_str(), sizeof text);
  }
  std::memcpy(key, text, std::min(std::strlen(text), kGsaKeyWidth));
}

// --- the whole file ---

bool GsaWriteAttributeFile(const char* path, const std::vector<GsaFieldDef>& fields,
                           GsaRowSource& rows, const GsaWriteOptions& options, QError& error) {
  error.Clear();
  GsaFieldDescriptor descriptor;
  if (!descriptor.Build(fields, rows, options.keyField, options.descriptions, error)) return false;
  bool ok = false;
  bool created = false;
  {
    DLPageBuild page(descriptor);
    DLFileBuild file(path, &page, descriptor.KeyColumn(), options.dateText, options.tempDirectory,
                     &error);
    created = file.Created();
    ok = file.Ok() && (rows.Rewind() || Report(error, kLineRowsUnreadableOnWrite, "The rows of the table cannot be read"));
    while (ok && rows.Next()) {
      uint8_t key[kGsaKeyWidth + 1] = {};
      ok = file.Add(key, nullptr, &rows);
      if (ok && options.progress) options.progress();
    }
    if (ok && (rows.Failed() || file.Count() != descriptor.Rows()))
      ok = Report(error, kLineRowsChanged, "The rows of the table changed while they were written");
    int64_t tree = ok ? file.Finish() : -1;
    std::vector<uint8_t> area = descriptor.AreaBytes();
    int64_t at = tree >= 0 ? file.WriteArea(area.data(), uint32_t(area.size())) : -1;
    ok = at >= 0;
    if (ok && (tree > int64_t(UINT32_MAX) || at > int64_t(UINT32_MAX)))
      ok = Report(error, kLineFileTooLarge, "The attribute file outgrows 4 GB");
    if (ok)
      GsaWriteDescriptor(descriptor.Header(uint32_t(tree), uint32_t(at), options.stamp),
                         file.HeaderBlock());
    ok = file.Close() && ok;
  }
  if (!ok) {
    if (!error.HasError()) Report(error, kLineWriteFailed, "Writing the attribute file %s failed", path);
    if (created) platform::Env::Current().Remove(path);
  }
  return ok;
}
