#include "tables/qstringp.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/env.h"

namespace {

constexpr const char* kClass = "CQmsStringPtr";

bool IsBlank(char c) { return (c >= 9 && c <= 13) || c == ' '; }
bool IsPunct(char c) {
  return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Sizes are 32-bit: a request that does not fit is out of memory.
uint32_t SizeFor(unsigned long characters) {
  if (characters >= UINT32_MAX) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  return uint32_t(characters + 1);
}

}  // namespace

CQmsStringPtr::CQmsStringPtr(long size) { Alloc(size > 0 ? static_cast<unsigned long>(size) : 0); }

CQmsStringPtr::CQmsStringPtr(const char* text) { *this = text; }

CQmsStringPtr::CQmsStringPtr(const CQmsStringPtr& other) : CQmsCollectable(), CQmsTest() {
  *this = other.m_pszText;
}

CQmsStringPtr::~CQmsStringPtr() {
  if (Owns()) std::free(m_pszText);
}

CQmsStringPtr& CQmsStringPtr::operator=(const char* text) {
  if (text == nullptr) {
    FreeString();
    return *this;
  }
  if (text == m_pszText) return *this;
  size_t length = std::strlen(text);
  // A text inside our own buffer may move when the buffer grows; it cannot
  // grow for it, since it is shorter than what the buffer already holds.
  ReallocString(length);
  std::memmove(m_pszText, text, length + 1);
  return *this;
}

CQmsStringPtr& CQmsStringPtr::operator=(char c) {
  if (c == 0) return *this = static_cast<const char*>(nullptr);
  ReallocString(1);
  m_pszText[0] = c;
  m_pszText[1] = 0;
  return *this;
}

CQmsStringPtr& CQmsStringPtr::operator=(const CQmsStringPtr& other) {
  if (&other != this) *this = other.m_pszText;
  return *this;
}

unsigned long CQmsStringPtr::Capacity() const {
  if (m_uAdopted > 0) return m_uAdopted - 1;
  if (m_uAllocated > 0) return m_uAllocated - 1;
  return 0;
}

void CQmsStringPtr::Alloc(unsigned long n) {
  QmsGuarded(QMS_SITE(kClass, "Alloc", "Alloc failed"), [&] {
    if (m_pszText != nullptr || n == 0) QmsRaise(QMS_SEVERE);
    uint32_t size = SizeFor(n);
    char* buffer = static_cast<char*>(std::malloc(size));
    if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    buffer[0] = 0;
    m_pszText = buffer;
    m_uAllocated = size;
  });
}

void CQmsStringPtr::ReallocString(unsigned long n) {
  QmsGuarded(QMS_SITE(kClass, "ReallocString", "ReallocString failed"), [&] {
    if (m_pszText != nullptr && Capacity() >= n) return;
    if (m_uAdopted > 0) QmsRaise(QMS_SEVERE);
    uint32_t size = SizeFor(n);
    bool fresh = m_pszText == nullptr;
    // A buffer lent with TakeFrom(buffer, 0) is reallocated itself and owned from here on.
    char* buffer = static_cast<char*>(std::realloc(m_pszText, size));
    if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    if (fresh) buffer[0] = 0;
    m_pszText = buffer;
    m_uAllocated = size;
  });
}

void CQmsStringPtr::FreeString() {
  if (Owns()) std::free(m_pszText);
  if (m_uAdopted == 0) {
    m_pszText = nullptr;
    m_uAllocated = 0;
  }
}

unsigned long CQmsStringPtr::GetStringSize() const { return m_pszText ? Capacity() : 0; }

unsigned long CQmsStringPtr::Length() const { return m_pszText ? std::strlen(m_pszText) : 0; }

char& CQmsStringPtr::operator*() {
  if (m_pszText == nullptr) QmsRaise(QMS_SEVERE);
  return m_pszText[0];
}

char& CQmsStringPtr::operator[](int i) {
  if (m_pszText == nullptr) QmsRaise(QMS_SEVERE);
  return m_pszText[i];
}

QBOOL CQmsStringPtr::operator==(const CQmsStringPtr& other) const {
  if (m_pszText == nullptr || other.m_pszText == nullptr) return m_pszText == other.m_pszText;
  return std::strcmp(m_pszText, other.m_pszText) == 0;
}

bool CQmsStringPtr::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* text = dynamic_cast<const CQmsStringPtr*>(&other);
    if (text == nullptr) QmsRaise(QMS_INFO_NO);
    if (text == this || text->m_pszText == m_pszText) QmsRaise(QMS_INFO_YES);
    if (text->m_pszText == nullptr || m_pszText == nullptr) QmsRaise(QMS_INFO_NO);
    QmsRaise(std::strcmp(text->m_pszText, m_pszText) == 0 ? QMS_INFO_YES : QMS_INFO_NO);
  });
}

void CQmsStringPtr::CopyTo(char** dest, unsigned long size) {
  QmsGuarded(QMS_SITE(kClass, "CopyTo", "CopyTo failed"), [&] {
    if (dest == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    const char* text = m_pszText ? m_pszText : "";
    size_t length = std::strlen(text);
    if (size == 0) {
      char* buffer = static_cast<char*>(std::realloc(*dest, length + 1));
      if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
      std::memcpy(buffer, text, length + 1);
      *dest = buffer;
      return;
    }
    if (size < length) QmsRaise(QMS_SEVERE);
    if (*dest != nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    char* buffer = static_cast<char*>(std::malloc(SizeFor(size)));
    if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    std::memcpy(buffer, text, length + 1);
    *dest = buffer;
  });
}

void CQmsStringPtr::GiveTo(char** dest) {
  QmsGuarded(QMS_SITE(kClass, "GiveTo", "GiveTo failed"), [&] {
    if (dest == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    *dest = m_pszText;
    if (m_uAdopted > 0) {
      m_pszText = nullptr;
      m_uAdopted = 0;
      m_uAllocated = 0;
    }
  });
}

void CQmsStringPtr::TakeFrom(char* buffer, unsigned long size) {
  QmsGuarded(QMS_SITE(kClass, "TakeFrom", "TakeFrom failed"), [&] {
    if (m_uAdopted > 0) {
      m_pszText = nullptr;
      m_uAdopted = 0;
      m_uAllocated = 0;
    }
    if (buffer != nullptr) {
      if (size >= UINT32_MAX) QmsRaise(QMS_SEVERE_TOO_LARGE);
      if (Owns() && buffer != m_pszText) std::free(m_pszText);
      m_pszText = buffer;
      m_uAllocated = 0;
      m_uAdopted = uint32_t(size);
    } else if (size != 0) {
      ReallocString(size);
    }
  });
}

void CQmsStringPtr::Join(const char* s, bool atFront) {
  if (s == nullptr || *s == 0) return;
  // The text joined may be our own: keep it apart from the growth.
  CQmsStringPtr copy;
  if (m_pszText != nullptr && s >= m_pszText && s <= m_pszText + std::strlen(m_pszText)) {
    copy = s;
    s = copy;
  }
  size_t own = Length();
  size_t add = std::strlen(s);
  ReallocString(own + add);
  if (atFront) {
    std::memmove(m_pszText + add, m_pszText, own + 1);
    std::memcpy(m_pszText, s, add);
  } else {
    std::memcpy(m_pszText + own, s, add + 1);
  }
}

void CQmsStringPtr::Append(const char* s) {
  QmsGuarded(QMS_SITE(kClass, "Append", "Append failed"), [&] { Join(s, false); });
}

void CQmsStringPtr::AppendFormattedData(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Append(text);
}

void CQmsStringPtr::Prepend(const char* s) {
  QmsGuarded(QMS_SITE(kClass, "Prepend", "Prepend failed"), [&] { Join(s, true); });
}

void CQmsStringPtr::Reverse() {
  if (m_pszText == nullptr) return;
  size_t n = std::strlen(m_pszText);
  for (size_t i = 0; i < n / 2; i++) std::swap(m_pszText[i], m_pszText[n - 1 - i]);
}

void CQmsStringPtr::ToUpper() {
  if (m_pszText == nullptr) return;
  for (char* p = m_pszText; *p; p++) *p = platform::AsciiUpper(*p);
}

void CQmsStringPtr::ToLower() {
  if (m_pszText == nullptr) return;
  for (char* p = m_pszText; *p; p++) *p = platform::AsciiLower(*p);
}

void CQmsStringPtr::TrimLeft() {
  if (m_pszText == nullptr) return;
  size_t skip = 0;
  while (IsBlank(m_pszText[skip])) skip++;
  if (skip > 0) std::memmove(m_pszText, m_pszText + skip, std::strlen(m_pszText + skip) + 1);
}

void CQmsStringPtr::TrimRight() {
  if (m_pszText == nullptr) return;
  size_t n = std::strlen(m_pszText);
  while (n > 0 && IsBlank(m_pszText[n - 1])) n--;
  m_pszText[n] = 0;
}

void CQmsStringPtr::Trim() {
  TrimRight();
  TrimLeft();
}

template <class Keep>
void CQmsStringPtr::KeepOnly(Keep keep) {
  if (m_pszText == nullptr) return;
  char* write = m_pszText;
  for (const char* read = m_pszText; *read; read++) {
    if (keep(*read)) *write++ = *read;
  }
  *write = 0;
}

void CQmsStringPtr::RemoveBlanks() {
  KeepOnly([](char c) { return !IsBlank(c); });
}
void CQmsStringPtr::RemovePunct() {
  KeepOnly([](char c) { return !IsPunct(c); });
}
void CQmsStringPtr::RemoveBlanksAndPunct() {
  KeepOnly([](char c) { return !IsBlank(c) && !IsPunct(c); });
}
void CQmsStringPtr::RemoveNumeric() {
  KeepOnly([](char c) { return !IsDigit(c); });
}
void CQmsStringPtr::RemoveAlpha() {
  KeepOnly([](char c) { return !IsLetter(c); });
}

void CQmsStringPtr::ReplaceChar(const char* from, const char* to) {
  if (m_pszText == nullptr || from == nullptr || to == nullptr || *from == 0) return;
  for (char* p = m_pszText; *p; p++) {
    if (*p == *from) *p = *to;
  }
}

QBOOL CQmsStringPtr::ContainsOnlyBlanks() const {
  if (m_pszText == nullptr) return 1;
  for (const char* p = m_pszText; *p; p++) {
    if (!IsBlank(*p)) return 0;
  }
  return 1;
}

QBOOL CQmsStringPtr::CompareNoSpace(CQmsStringPtr& other) const {
  const char* a = m_pszText ? m_pszText : "";
  const char* b = other.m_pszText ? other.m_pszText : "";
  for (;;) {
    while (IsBlank(*a)) a++;
    while (IsBlank(*b)) b++;
    if (*a != *b) return 0;
    if (*a == 0) return 1;
    a++;
    b++;
  }
}

void CQmsStringPtr::SubString(int start, int count) {
  if (m_pszText == nullptr || start < 0) return;
  int length = int(std::strlen(m_pszText));
  int n = count < length ? count : length;
  if (n < 0) n = 0;
  if (start == 0 && n == 0) return;
  if (start == 0) {
    m_pszText[n] = 0;
    return;
  }
  if (start > length) return;
  int end = start + n < length ? start + n : length;
  std::memmove(m_pszText, m_pszText + start, size_t(end - start));
  m_pszText[end - start] = 0;
}

// ---- C functions ----

void TrimRight(char* s) {
  if (s == nullptr) return;
  size_t n = std::strlen(s);
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) n--;
  s[n] = 0;
}

int FindNonBlank(const char* s) {
  if (s == nullptr) return -1;
  for (int i = 0; s[i]; i++) {
    if (s[i] != ' ' && s[i] != '\t') return i;
  }
  return -1;
}

int FindNonZero(const char* s) {
  if (s == nullptr) return -1;
  for (int i = 0; s[i]; i++) {
    if (s[i] != '0') return i;
  }
  return -1;
}

namespace {

// The C runtime's generator of the original platform: seeded, then one value
// of 15 bits per draw.
int FirstDraw(uint32_t seed) { return int(((seed * 214013u + 2531011u) >> 16) & 0x7FFF); }

}  // namespace

int GenerateRandomNumber(int limit) {
  if (limit < 1) return -1;
  uint32_t seed = uint32_t(platform::Env::Current().NowSeconds());
  if (limit <= 32767) return FirstDraw(seed) % limit;
  unsigned high = unsigned(FirstDraw(seed)) << 16;
  seed = uint32_t(platform::Env::Current().NowSeconds());
  unsigned low = unsigned(FirstDraw(seed));
  return int((high | low) % unsigned(limit));
}

unsigned char ValidateDiskSpaceStructure(const int32_t* record) {
  if (record == nullptr) return 0;
  for (int field = 1; field <= 21; field++) {
    if (field != 12 && record[field - 1] < 0) return 0;
  }
  return 1;
}
