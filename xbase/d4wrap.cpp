#include "xbase/d4wrap.h"

#include <cmath>
#include <cstring>

#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/conv4.h"
#include "xbase/data4.h"
#include "xbase/date4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/index4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/util4.h"

namespace {
constexpr unsigned kStrBufferSize = 257;

// A definition's name in a block of its own: cut at its first blank and to
// 10 characters, upper-cased.
char* CopyName(CODE4* c4, const char* name) {
  char* copy = static_cast<char*>(u4allocEr(c4, 11));
  if (copy == nullptr) return nullptr;
  int n = 0;
  while (n < 10 && name && name[n] && name[n] != ' ') {
    copy[n] = platform::AsciiUpper(name[n]);
    n++;
  }
  copy[n] = 0;
  return copy;
}

char* CopyText(CODE4* c4, const char* text) {
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(u4allocEr(c4, long(n)));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

// Grows a definition list to hold count + 2 entries (the last one zeroed).
template <typename Entry>
int Grow(CODE4* c4, Entry** entries, unsigned* length, int count) {
  unsigned wanted = unsigned(count + 2) * unsigned(sizeof(Entry));
  char* block = reinterpret_cast<char*>(*entries);
  if (u4allocAgainDefault(c4, &block, length, wanted) != 0) return -1;
  *entries = reinterpret_cast<Entry*>(block);
  return 0;
}
}  // namespace

// ---- Code4 ----

Code4::Code4() : CODE4{} { logFile.handle = -1; }

Code4::Code4(int doInit) : Code4() {
  if (doInit) init();
}

Code4::~Code4() {
  if (initialisedFlag) code4initUndo(this);
}

int Code4::init() {
  if (initialisedFlag) {
    code4initUndo(this);
    initialisedFlag = 0;
  }
  int rc = code4initLow(this, 0, k4version, k4structSize, 0);
  if (rc == 0) initialisedFlag = 1;
  return rc;
}

int Code4::initUndo() {
  int rc = code4initUndo(this);
  if (rc == 0) initialisedFlag = 0;
  return rc;
}

int Code4::closeAll() { return code4closeAll(this); }

int Code4::errorSet(int code) { return error4set(this, code); }

// ---- Data4 ----

Data4::Data4(Code4& code, const char* name) : data(d4open(&code, name)) {}

int Data4::close() {
  int rc = d4close(data);
  data = nullptr;
  return rc;
}

int Data4::numFields() const { return d4numFields(data); }

// ---- Str4 ----

Str4::~Str4() { u4free(buffer_); }

char* Str4::strBuffer() {
  if (buffer_ == nullptr) buffer_ = static_cast<char*>(u4allocEr(codeBase(), kStrBufferSize));
  return buffer_;
}

Str4::operator long() { return c4atol(ptr(), int(len())); }

unsigned long Str4::len() {
  const char* p = ptr();
  return p ? std::strlen(p) : 0;
}

const char* Str4::str() {
  char* out = strBuffer();
  if (out == nullptr) return nullptr;
  const char* p = ptr();
  unsigned long n = len();
  if (n > kStrBufferSize - 1) n = kStrBufferSize - 1;
  if (p) std::memcpy(out, p, n);
  out[p ? n : 0] = 0;
  return out;
}

int Str4::assign(const char* text, unsigned length) {
  if (text == nullptr) return error4(codeBase(), e4parmNull, E4_STR4_ASSIGN);
  changed();
  setLen(length);
  char* p = ptr();
  if (p == nullptr) return error4(codeBase(), e4parmNull, E4_STR4_ASSIGN);
  unsigned long n = len();
  if (n > length) std::memset(p, ' ', n);
  std::memcpy(p, text, length < n ? length : n);
  return 0;
}

int Str4::assign(const char* text) {
  if (text == nullptr) return error4(codeBase(), e4parmNull, E4_STR4_ASSIGN);
  return assign(text, unsigned(std::strlen(text)));
}

int Str4::assignDouble(double value, int length, int decimalsWanted) {
  changed();
  if (length >= 0) setLen(unsigned(length));
  char* p = ptr();
  if (p == nullptr) return error4(codeBase(), e4parmNull, E4_STR4_ASSIGN_DOUBLE);
  if (isRaw()) {
    std::memcpy(p, &value, sizeof value);
    return 0;
  }
  int n = int(len());
  c4dtoa45(value, p, n, decimalsWanted < 0 ? decimals() : decimalsWanted);
  if (len() < maximum()) p[n] = 0;
  return 0;
}

int Str4::assignLong(long value, int length, int zeroFill) {
  changed();
  if (length >= 0) setLen(unsigned(length));
  char* p = ptr();
  if (p == nullptr) return error4(codeBase(), e4parmNull, E4_STR4_ASSIGN_LONG);
  if (isRaw()) {
    auto v = int32_t(value);
    std::memcpy(p, &v, sizeof v);
    return 0;
  }
  int n = int(len());
  c4ltoa45(value, p, zeroFill ? -n : n);
  if (len() < maximum()) p[n] = 0;
  return 0;
}

unsigned Str4::ncpy(char* buffer, unsigned size) {
  if (size == 0) return 0;
  unsigned long n = len();
  if (n > size - 1) n = size - 1;
  const char* p = ptr();
  if (p) std::memcpy(buffer, p, n);
  buffer[n] = 0;
  return unsigned(n);
}

void Str4::set(int character) {
  char* p = ptr();
  if (p == nullptr) return;
  unsigned long n = len();
  std::memset(p, character, n);
  if (n < maximum()) p[n] = 0;
}

// ---- Field4 ----

Field4::Field4(FIELD4* f) { init(f); }
Field4::Field4(Data4& d, int j) { init(d4fieldJ(d.data, j)); }
Field4::Field4(Data4& d, const char* name) { init(d4field(d.data, name)); }

void Field4::init(FIELD4* f) {
  field = f;
  data = f ? f->data : nullptr;
}

CODE4* Field4::codeBase() { return data ? data->codeBase : nullptr; }

Field4::operator long() { return f4long(field); }

void Field4::changed() {
  if (field == nullptr) {
    error4(codeBase(), e4struct, E4_FIELD4_CHANGED);
    return;
  }
  d4changed(data, 1);
  f4changed(field);
}

int Field4::decimals() { return f4decimals(field); }

int Field4::isRaw() {
  if (field == nullptr) return 0;
  return std::strchr("16BIPQRTY", char(field->type)) != nullptr && field->type != 0;
}

unsigned long Field4::len() { return f4len(field); }
char* Field4::ptr() { return f4ptr(field); }
int Field4::type() const { return f4type(field); }
const char* Field4::name() const { return f4name(field); }
double Field4::toDouble() { return f4double(field); }

const char* Field4::str() {
  if (field == nullptr) return nullptr;
  char* out = strBuffer();
  if (out == nullptr) return nullptr;
  switch (field->type) {
    case 'I': {
      long value = f4long(field);
      int digits = 1;
      for (long v = value; v / 10 != 0; v /= 10) digits++;
      int width = digits + (value < 0 ? 1 : 0);
      c4ltoa45(value, out, width);
      out[width] = 0;
      return out;
    }
    case 'B': {
      double value = f4double(field);
      // Wide enough for every integer digit, the sign, the point and decimals.
      int digits = 1;
      if (std::isfinite(value) && std::fabs(value) >= 1) {
        digits = int(std::floor(std::log10(std::fabs(value)))) + 1;
      }
      int dec = field->dec;
      int width = digits + (value < 0 ? 1 : 0) + (dec > 0 ? dec + 1 : 0);
      if (width > int(kStrBufferSize) - 1) width = int(kStrBufferSize) - 1;
      c4dtoa45(value, out, width, dec);
      out[width] = 0;
      return out;
    }
    case 'T': {
      const char* text = f4dateTime(field);
      u4ncpy(out, text ? text : "", kStrBufferSize);
      return out;
    }
    case 'Y': {
      const char* text = f4currency(field, 2);
      u4ncpy(out, text ? text : "", kStrBufferSize);
      return out;
    }
    default: {
      unsigned n = field->len < kStrBufferSize - 1 ? field->len : kStrBufferSize - 1;
      std::memcpy(out, f4ptr(field), n);
      out[n] = 0;
      return out;
    }
  }
}

// ---- Date4 ----

Date4::Date4() {
  std::memset(dt_, ' ', 8);
  dt_[8] = 0;
}

Date4::Date4(long julian) {
  date4assign(dt_, julian);
  dt_[8] = 0;
}

Date4::Date4(const char* ccyymmdd) {
  std::memset(dt_, ' ', 8);
  dt_[8] = 0;
  if (ccyymmdd) {
    size_t n = std::strlen(ccyymmdd);
    std::memcpy(dt_, ccyymmdd, n < 8 ? n : 8);
  }
}

Date4::Date4(const char* text, const char* picture) {
  dt_[8] = 0;
  char pic[257];
  u4ncpy(pic, picture ? picture : "", sizeof pic);
  date4init(dt_, text ? text : "", pic);
}

Date4::~Date4() { u4free(formatBuffer_); }

const char* Date4::format(const char* picture) {
  if (picture == nullptr) {
    error4(nullptr, e4parmNull, E4_DATE4_FORMAT);
    return nullptr;
  }
  if (formatBuffer_ == nullptr) formatBuffer_ = static_cast<char*>(u4alloc(kStrBufferSize));
  if (formatBuffer_ == nullptr) return nullptr;
  char pic[257];
  int n = u4ncpy(pic, picture, sizeof pic);
  date4format(dt_, formatBuffer_, pic);
  formatBuffer_[n] = 0;
  return formatBuffer_;
}

long Date4::julian() const { return date4long(dt_); }

// ---- Field4info ----

Field4info::Field4info(Code4& code) : codeBase_(&code) {}

Field4info::Field4info(Data4 data) {
  if (data.data == nullptr) {
    error4(nullptr, e4struct, E4_FIELD4INFO_CTOR);
    return;
  }
  codeBase_ = data.data->codeBase;
  int n = d4numFields(data.data);
  for (int j = 1; j <= n; j++) {
    FIELD4* f = d4fieldJ(data.data, j);
    if (f == nullptr) break;
    add(f->name, char(f->type), f->len, f->dec, 0);
  }
}

Field4info::~Field4info() { free(); }

int Field4info::add(const char* name, char type, int length, int decimals, int nulls) {
  if (codeBase_ == nullptr) return error4(nullptr, e4struct, E4_FIELD4INFO_CTOR);
  if (Grow(codeBase_, &fields_, &length_, size_) != 0) return -1;
  char* copy = CopyName(codeBase_, name);
  if (copy == nullptr) return -1;
  FIELD4INFO& entry = fields_[size_];
  entry.name = copy;
  entry.type = uint16_t(static_cast<unsigned char>(type));
  entry.len = uint16_t(length);
  entry.dec = uint16_t(decimals);
  entry.nulls = uint16_t(nulls);
  size_++;
  return 0;
}

FIELD4INFO* Field4info::operator[](int index) {
  if (codeBase_ == nullptr) {
    error4(nullptr, e4struct, E4_FIELD4INFO_INDEX);
    return nullptr;
  }
  if (index < 0 || index > size_ || fields_ == nullptr) return nullptr;
  return &fields_[index];
}

void Field4info::free() {
  for (int i = 0; i < size_; i++) u4free(fields_[i].name);
  u4free(fields_);
  fields_ = nullptr;
  size_ = 0;
  length_ = 0;
}

// ---- Tag4info ----

Tag4info::Tag4info(Code4& code) : codeBase_(&code) {}

Tag4info::Tag4info(Data4 data) {
  if (data.data == nullptr) {
    error4(nullptr, e4struct, E4_TAG4INFO_CTOR);
    return;
  }
  codeBase_ = data.data->codeBase;
  for (auto* index = static_cast<INDEX4*>(l4first(&data.data->indexes)); index;
       index = static_cast<INDEX4*>(l4next(&data.data->indexes, index))) {
    if (add_index_tags(index) != 0) break;
  }
}

Tag4info::~Tag4info() { free(); }

int Tag4info::add(const char* name, const char* expression, const char* filter, short unique,
                  unsigned short descending) {
  if (codeBase_ == nullptr) return error4(nullptr, e4struct, E4_TAG4INFO_ADD);
  if (Grow(codeBase_, &tags_, &length_, size_) != 0) return -1;
  TAG4INFO& entry = tags_[size_];
  entry = TAG4INFO{};
  entry.name = CopyName(codeBase_, name);
  if (expression) entry.expression = CopyText(codeBase_, expression);
  if (filter) entry.filter = CopyText(codeBase_, filter);
  entry.unique = unique;
  entry.descending = descending;
  if (codeBase_->errorCode < 0 || entry.name == nullptr) {
    freeEntry(&entry);
    return -1;
  }
  size_++;
  return 0;
}

int Tag4info::add_index_tags(INDEX4* index) {
  TAG4INFO* info = i4tagInfo(index);
  if (info == nullptr) return -1;
  int rc = 0;
  for (TAG4INFO* t = info; t->name != nullptr && rc == 0; t++) {
    rc = add(t->name, t->expression, t->filter, t->unique, t->descending);
  }
  u4free(info);
  return rc;
}

void Tag4info::freeEntry(TAG4INFO* entry) {
  u4free(entry->name);
  u4free(entry->expression);
  u4free(entry->filter);
  *entry = TAG4INFO{};
}

void Tag4info::free() {
  for (int i = 0; i < size_; i++) freeEntry(&tags_[i]);
  u4free(tags_);
  tags_ = nullptr;
  size_ = 0;
  length_ = 0;
}

// ---- Tag4 ----

int Tag4::init(Data4 data, const char* name) {
  tag = nullptr;
  if (data.data == nullptr) return error4(nullptr, e4struct, E4_TAG4_INIT);
  if (name != nullptr) {
    tag = d4tag(data.data, name);
  } else {
    tag = d4tagDefault(data.data);
  }
  return tag ? 0 : -1;
}

const char* Tag4::alias() const { return tag ? t4alias(tag) : nullptr; }
