#include "boundary/dllist.h"

#include <algorithm>
#include <cstring>

#include "base/qstring.h"
#include "base/qtree.h"
#include "boundary/fieldid.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "dllist";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLinePageDamaged = 150;
constexpr int kLineKeyLength = 318;
constexpr int kLineKeyColumnMissing = 334;
constexpr int kLineColumnMissing = 346;
constexpr int kLineKeyColumnWrong = 348;
constexpr int kLineTreeDamaged = 380;

// The number at the start of an entry's key text (at most 12 characters):
// blanks, a sign, digits.
int64_t KeyTextNumber(const void* entryKey) {
  const char* text = static_cast<const char*>(entryKey);
  size_t i = 0;
  while (i < kGsaKeyWidth && text[i] == ' ') ++i;
  bool negative = false;
  if (i < kGsaKeyWidth && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < kGsaKeyWidth && platform::AsciiIsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t(UINT32_MAX)) break;
  }
  return negative ? -value : value;
}

bool IsColumnType(uint32_t type) { return type == kGsaTypeText || type == kGsaTypeNumber; }

// The key order of the file: a number key (an int32_t) against the number in
// an entry's text, signed or unsigned; a text key ignoring ASCII case over
// at most 12 characters; keys of other types all equal.
int CompareKey(uint32_t type, const void* key, const void* entryKey, bool numbersSigned) {
  if (type == kGsaTypeText) return QTreeKeyCompare(key, entryKey, kGsaKeyWidth);
  if (type != kGsaTypeNumber) return 0;
  const int32_t k = *static_cast<const int32_t*>(key);
  const int64_t e = KeyTextNumber(entryKey);
  if (numbersSigned) {
    const int32_t entry = int32_t(e);
    return k == entry ? 0 : (k > entry ? 1 : -1);
  }
  const uint32_t uk = uint32_t(k), ue = uint32_t(e);
  return uk == ue ? 0 : (uk > ue ? 1 : -1);
}

}  // namespace

void DlCopyText(char* buffer, int32_t size, std::string_view text) {
  if (!buffer || size < 0) return;
  size_t n = std::min(text.size(), size_t(size));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// --- DLTextColumn ---

bool DLTextColumn::Reset(const uint8_t* start, uint32_t length) {
  start_ = start;
  length_ = length;
  number_ = 0;
  textValid_ = false;
  count_ = length >= 2 ? QLoadU16LE(start) : 0;
  return length >= 2;
}

bool DLTextColumn::Restart() {
  number_ = 0;
  textValid_ = false;
  group_ = kGsaTextFirstGroup;
  groupIndex_ = 0;
  cursor_ = group_ + kGsaTextGroupHeaderSize;
  storedLength_ = 0;
  return cursor_ <= length_;
}

bool DLTextColumn::NextGroup() {
  uint32_t link = QLoadU16LE(start_ + group_);
  // A link must pass the header it starts from; 0 ends the column.
  if (link < kGsaTextGroupHeaderSize) return false;
  uint32_t next = group_ + link;
  if (next + kGsaTextGroupHeaderSize > length_) return false;
  group_ = next;
  ++groupIndex_;
  cursor_ = next + kGsaTextGroupHeaderSize;
  storedLength_ = 0;
  return true;
}

bool DLTextColumn::DecodeNext() {
  const uint32_t group = number_ / kGsaTextGroupStrings;
  if (group != groupIndex_ && (group != groupIndex_ + 1 || !NextGroup())) return false;
  const uint32_t j = number_ % kGsaTextGroupStrings;
  const uint8_t code = GsaTextCode(start_ + group_, j);
  if (code == kGsaTextRepeat) {
    if (j == 0) return false;  // nothing before it to repeat
  } else {
    if (code > storedLength_ || (j == 0 && code != 0)) return false;
    storedLength_ = code;
    for (;;) {
      if (cursor_ >= length_) return false;
      const uint8_t byte = start_[cursor_++];
      const char c = char(byte & 0x7F);
      const bool last = (byte & kGsaTextEndBit) != 0;
      // A lone end byte 0x80 adds nothing.
      if (!(last && c == 0)) {
        if (storedLength_ >= kGsaTextMaxEncoded) return false;
        stored_[storedLength_++] = c;
      }
      if (last) break;
    }
  }
  ++number_;
  return true;
}

bool DLTextColumn::Fail() {
  number_ = 0;
  textValid_ = false;
  return false;
}

bool DLTextColumn::Get(uint32_t number, std::string_view* text) {
  if (number == 0 || number > count_ || !start_) return false;
  if (number != number_ || !textValid_) {
    textValid_ = false;
    if ((number_ == 0 || number < number_) && !Restart()) return Fail();
    // Jump over whole groups to the one that holds the string.
    const uint32_t group = (number - 1) / kGsaTextGroupStrings;
    while (groupIndex_ < group) {
      if (!NextGroup()) return Fail();
      number_ = groupIndex_ * kGsaTextGroupStrings;
    }
    while (number_ < number)
      if (!DecodeNext()) return Fail();
    if (!GsaTextDecode(stored_, storedLength_, text_, sizeof text_, &textLength_)) return Fail();
    textValid_ = true;
  }
  *text = std::string_view(text_, textLength_);
  return true;
}

// --- DLFilePage ---

void DLFilePage::Setup(uint32_t textColumns, uint32_t numberColumns, uint32_t keyColumn,
                       uint32_t keyType) {
  text_.assign(textColumns, DLTextColumn());
  numbers_.assign(numberColumns, PackedIntReader());
  extents_.assign(size_t(textColumns) + numberColumns, GsaColumnExtent());
  keyColumn_ = keyColumn;
  keyType_ = keyType;
  loaded_ = -1;
}

bool DLFilePage::Damaged(const char* what) const {
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, "Page %lld of %s is damaged: %s", (long long)reading_,
            fileName_.c_str(), what);
  error_.Record(Q_ERROR_CHECKSUM, detail, kSource, kLinePageDamaged);
  return false;
}

bool DLFilePage::Load(QPagedFile& file, uint32_t number) {
  if (loaded_ == int64_t(number) && Buffer()) return true;
  loaded_ = -1;
  reading_ = number;
  fileName_ = file.File().Name();
  if (!QIndexedFilePage::Load(file, number)) return Damaged("it lies beyond the end of the file");
  const uint8_t* page = Buffer();
  const uint32_t size = BufferSize();
  if (!QPageCheckValueValid(page, size)) return Damaged("its check value does not match");
  if (!GsaPageColumns(page, size, uint32_t(extents_.size()), extents_.data()))
    return Damaged("its column directory points outside the page");
  const uint32_t count = QLoadU32LE(page + kGsaPageCount);
  if (count == 0 || count >= kQPositionEntryMask || count > size)
    return Damaged("its record count is out of range");
  size_t i = 0;
  for (DLTextColumn& column : text_) {
    const GsaColumnExtent& e = extents_[i++];
    if (!column.Reset(page + e.start, e.end - e.start) || column.Count() != count)
      return Damaged("a text column's string count does not match the records");
  }
  for (PackedIntReader& reader : numbers_) {
    const GsaColumnExtent& e = extents_[i++];
    reader.Attach(page + e.start, e.end - e.start);
    if (reader.Failed()) return Damaged("a number column does not hold a stream");
  }
  entries_ = count;
  loaded_ = number;
  return true;
}

bool DLFilePage::KeyNumber(uint32_t index, int32_t* out) const {
  PackedIntReader* reader = Number(keyColumn_);
  if (!reader) return false;
  *out = reader->Get(int32_t(index));
  return !reader->Failed() || Damaged("the key column cannot be decoded");
}

bool DLFilePage::GetEntry(int32_t index, void* key, void*) const {
  if (index < 0 || uint32_t(index) >= EntryCount()) return false;
  const uint32_t length = KeyLength();
  if (!key || length == 0) return true;
  char text[kGsaTextMaxEncoded + 1];
  std::string_view value;
  if (keyType_ == kGsaTypeNumber) {
    int32_t number = 0;
    if (!KeyNumber(uint32_t(index), &number)) return false;
    int n = StrFormat(text, sizeof text, "%ld", long(number));
    value = std::string_view(text, size_t(n));
  } else if (keyType_ == kGsaTypeText) {
    DLTextColumn* column = Text(keyColumn_);
    if (!column || !column->Get(uint32_t(index) + 1, &value))
      return Damaged("the key column cannot be decoded");
  } else {
    return false;
  }
  auto* out = static_cast<uint8_t*>(key);
  std::memset(out, 0, length);
  std::memcpy(out, value.data(), std::min<size_t>(value.size(), length - 1));
  return true;
}

int DLFilePage::Compare(const void* key, const void* entryKey) const {
  return CompareKey(keyType_, key, entryKey, true);
}

int32_t DLFilePage::Find(const void* key) const {
  const uint32_t count = EntryCount();
  if (count == 0 || !key) return -1;
  if (keyType_ == kGsaTypeNumber) {
    // The first record whose key is not below the key, if it equals it.
    const int32_t target = *static_cast<const int32_t*>(key);
    uint32_t low = 0, high = count;
    int32_t value = 0;
    while (low < high) {
      uint32_t middle = low + (high - low) / 2;
      if (!KeyNumber(middle, &value)) return -1;
      if (value < target)
        low = middle + 1;
      else
        high = middle;
    }
    if (low == count || !KeyNumber(low, &value) || value != target) return -1;
    return int32_t(low) + 1;
  }
  if (keyType_ != kGsaTypeText) return -1;
  // Text keys: the last group whose first string sorts before the key, then
  // forward string by string.
  DLTextColumn* column = Text(keyColumn_);
  if (!column) return -1;
  std::string_view wanted(static_cast<const char*>(key));
  std::string_view text;
  uint32_t low = 0, high = column->Groups();
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    if (!column->Get(middle * kGsaTextGroupStrings + 1, &text))
      return Damaged("the key column cannot be decoded"), -1;
    if (platform::AsciiCompareIgnoreCase(text, wanted) < 0)
      low = middle + 1;
    else
      high = middle;
  }
  uint32_t first = low > 0 ? (low - 1) * kGsaTextGroupStrings + 1 : 1;
  for (uint32_t n = first; n <= count; ++n) {
    if (!column->Get(n, &text)) return Damaged("the key column cannot be decoded"), -1;
    int c = platform::AsciiCompareIgnoreCase(text, wanted);
    if (c == 0) return int32_t(n);
    if (c > 0) break;
  }
  return -1;
}

// --- DLFile ---

int DLFile::Compare(const void* key, const void* entryKey) {
  return CompareKey(keyType_, key, entryKey, false);
}

// --- Quistrel ---

Quistrel::Quistrel(const char* name, QError& error, DlContext* context)
    : error_(error), context_(context) {
  open_ = Open(name);
}

Quistrel::~Quistrel() = default;

bool Quistrel::Open(const char* name) {
  page_ = std::make_unique<DLFilePage>(error_);
  file_ = std::make_unique<DLFile>(name, page_.get(), &error_);
  if (!file_->IsOpen()) return false;
  CIniFile descriptor;
  if (!descriptor.Read(file_->PagedFile(), error_)) return false;
  descriptor_ = descriptor.Header();
  const std::vector<GsaFieldEntry>& entries = descriptor.Fields();
  char detail[kQErrorDetailSize];
  auto damaged = [&](const char* what, int line) {
    StrFormat(detail, sizeof detail, "%s: %s", file_->PagedFile().File().Name(), what);
    error_.Record(Q_ERROR_CHECKSUM, detail, kSource, line);
    return false;
  };
  // Keys of the entries of a page are compared over 12 characters.
  if (page_->KeyLength() < kGsaKeyWidth)
    return damaged("the key length is too short", kLineKeyLength);

  // The key field, its type and its column among the columns of its type.
  const GsaFieldEntry* key = nullptr;
  uint32_t keyColumn = 0;
  for (const GsaFieldEntry& e : entries) {
    if (platform::AsciiEqualsIgnoreCase(e.longName, descriptor_.keyField)) {
      key = &e;
      break;
    }
  }
  if (!key || !IsColumnType(key->type) || key->notColumn != 0)
    return damaged("the key field is not a column of the file", kLineKeyColumnMissing);
  keyType_ = key->type;
  uint32_t textColumns = 0, numberColumns = 0;
  for (const GsaFieldEntry& e : entries) {
    if (&e == key) keyColumn = keyType_ == kGsaTypeText ? textColumns : numberColumns;
    if (e.notColumn != 0) continue;
    if (e.type == kGsaTypeText) ++textColumns;
    if (e.type == kGsaTypeNumber) ++numberColumns;
  }
  for (const GsaFieldEntry& e : entries) {
    if (e.notColumn != 0 || !IsColumnType(e.type)) continue;
    if (e.column >= (e.type == kGsaTypeText ? textColumns : numberColumns))
      return damaged("a field names a column the pages do not have", kLineColumnMissing);
  }
  if (key->column != keyColumn)
    return damaged("the key field's column number is wrong", kLineKeyColumnWrong);
  page_->Setup(textColumns, numberColumns, keyColumn, keyType_);
  file_->SetKeyType(keyType_);
  if (!file_->OpenIndex(descriptor_.treePosition)) return false;
  if (!VerifyTree()) return false;

  for (const GsaFieldEntry& e : entries) {
    std::vector<GsaValueRecord> values;
    for (const GsaValueRecord& v : descriptor.Values())
      if (values.size() < e.valueCount && platform::AsciiEqualsIgnoreCase(v.field, e.name))
        values.push_back(v);
    fields_.push_back(std::make_unique<FieldId>(e, std::move(values), *file_, error_));
  }
  return true;
}

bool Quistrel::VerifyTree() {
  // The tree reader takes nodes as they are; their check values are tested
  // here, each node once, so that a damaged tree fails the open.
  QTree* tree = file_->Tree();
  QFile& file = file_->PagedFile().File();
  const uint32_t size = tree->PageSize();
  const int64_t fileSize = file.Size();
  std::vector<uint8_t> node(size);
  std::vector<std::pair<uint64_t, uint16_t>> pending{{tree->RootOffset(), tree->RootLevel()}};
  uint64_t budget = fileSize > 0 ? uint64_t(fileSize) / size : 0;
  char detail[kQErrorDetailSize];
  while (!pending.empty()) {
    const auto [offset, level] = pending.back();
    pending.pop_back();
    bool sound = budget-- > 0 && offset <= uint64_t(INT64_MAX) &&
                 file.ReadAt(int64_t(offset), node.data(), size) &&
                 QPageCheckValueValid(node.data(), size);
    const uint32_t count = QLoadU16LE(node.data());
    const uint32_t stride = uint32_t(node[8]) + 8;
    if (sound && level > 0) {
      sound = kQTreeNodeHeaderSize + size_t(count) * stride + 2 <= size;
      for (uint32_t i = 0; sound && i < count; ++i)
        pending.emplace_back(QLoadU64LE(&node[kQTreeNodeHeaderSize + i * stride + node[8]]),
                             uint16_t(level - 1));
    }
    if (!sound) {
      StrFormat(detail, sizeof detail, "%s: the key tree's node at %llu is damaged", file.Name(),
                (unsigned long long)offset);
      error_.Record(Q_ERROR_CHECKSUM, detail, kSource, kLineTreeDamaged);
      return false;
    }
  }
  return true;
}

int32_t Quistrel::Search(const void* key, bool next) {
  uint32_t position = 0;
  bool found = false;
  if (open_ && !next) {
    found = file_->Find(key, &position);
    // The first record of a page may come back as entry 0.
    if (found && QPositionEntry(position) == 0)
      position = QPositionMake(1, QPositionPage(position));
  } else if (open_ && found_) {
    // FindNext counts the entries of a page from 0, position words from 1.
    uint32_t entry = QPositionEntry(position_);
    position = QPositionMake(entry > 0 ? entry - 1 : 0, QPositionPage(position_));
    found = file_->FindNext(key, &position, 0);
    if (found) position = QPositionMake(QPositionEntry(position) + 1, QPositionPage(position));
  }
  found_ = found;
  position_ = found ? position : 0;
  for (auto& field : fields_) {
    if (found)
      field->SetPosition(position);
    else
      field->ClearCurrent();
  }
  return found ? 1 : 0;
}

int32_t Quistrel::SearchText(const char* key, bool next) {
  if (keyType_ == kGsaTypeNumber) {
    int32_t number = StrToInt(key);
    return Search(&number, next);
  }
  std::string text = key ? key : "";
  if (descriptor_.alphanumericKeys) {
    text.erase(std::remove_if(
                   text.begin(), text.end(),
                   [](char c) { return !platform::AsciiIsAlpha(c) && !platform::AsciiIsDigit(c); }),
               text.end());
  }
  return Search(text.c_str(), next);
}

int32_t Quistrel::SearchNumber(int32_t key, bool next) {
  if (keyType_ == kGsaTypeNumber) return Search(&key, next);
  char text[16];
  StrFormat(text, sizeof text, "%ld", long(key));
  return SearchText(text, next);
}

FieldId* Quistrel::Field(int32_t n) const {
  return n >= 0 && n < FieldCount() ? fields_[size_t(n)].get() : nullptr;
}

FieldId* Quistrel::FieldByName(const char* name) const {
  if (!name) return nullptr;
  for (const auto& field : fields_)
    if (platform::AsciiEqualsIgnoreCase(field->Entry().name, name)) return field.get();
  return nullptr;
}

int32_t Quistrel::GetAttribute(int32_t number, char* buffer, int32_t size) const {
  if (size < 0 || number < 0 || number > 5) return -1;
  std::string_view text;
  switch (number) {
    case 0:
      return int32_t(descriptor_.attribute0);
    case 1:
      return FieldCount();
    case 2:
      return int32_t(descriptor_.valueCount);
    case 3:
      text = descriptor_.stamp;
      break;
    case 4:
      text = descriptor_.keyField;
      break;
    default:
      return int32_t(descriptor_.alphanumericKeys);
  }
  if (!buffer) return 0;
  DlCopyText(buffer, size, text);
  return 1;
}
