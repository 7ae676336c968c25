#include "tables/qdate.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/qstring.h"
#include "platform/env.h"
#include "xbase/xbase.h"

namespace {

constexpr int kTrace = 2;
constexpr const char* kNoDate = "        ";

// A picture as the engine may take it: a copy (the engine upper-cases its
// picture in place) cut to 80 characters; the default print picture for
// none or an empty one when asked.
struct Picture {
  Picture(const char* picture, bool defaulted) {
    if (defaulted && (picture == nullptr || picture[0] == 0)) picture = CQmsDate::GetDefaultPrintPicture();
    StrCopySized(text, picture ? picture : "", sizeof text);
  }
  char text[CQmsDate::kPictureLimit + 1];
};

bool IsDateLetter(char c) {
  char upper = platform::AsciiUpper(c);
  return upper == 'C' || upper == 'Y' || upper == 'M' || upper == 'D';
}

// The non-empty runs of a text between characters that split it.
template <class Splits>
std::vector<std::string> Pieces(const std::string& text, Splits splits) {
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : text) {
    if (splits(c)) {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

std::vector<std::string> SplitAtSeparator(const std::string& text, const std::string& separator) {
  return Pieces(text, [&](char c) { return separator.find(c) != std::string::npos; });
}

}  // namespace

CQmsDate::CQmsDate() : m_pDate(new (std::nothrow) Date4()) { std::memcpy(m_Date.szDate, "00000000", 9); }

CQmsDate::CQmsDate(long julian) : m_pDate(new (std::nothrow) Date4(julian)) {
  std::memcpy(m_Date.szDate, "00000000", 9);
}

CQmsDate::CQmsDate(const char* data) : m_pDate(new (std::nothrow) Date4(data)) {
  std::memcpy(m_Date.szDate, "00000000", 9);
}

CQmsDate::CQmsDate(const _qmsdate& data) : CQmsDate(data.szDate) {}

CQmsDate::CQmsDate(const char* text, const char* picture) {
  Picture engine(picture, false);
  m_pDate.reset(new (std::nothrow) Date4(text ? text : "", engine.text));
  std::memcpy(m_Date.szDate, "00000000", 9);
}

CQmsDate::CQmsDate(const CQmsDate& other) : CQmsObject(), CQmsTest(), m_pDate(new (std::nothrow) Date4()) {
  std::memcpy(m_Date.szDate, "00000000", 9);
  *this = other;
}

CQmsDate::~CQmsDate() {
  m_pDate.reset();
  std::memcpy(m_Date.szDate, "00000000", 9);
}

CQmsDate& CQmsDate::operator=(const CQmsDate& other) {
  if (&other != this && other.m_pDate && m_pDate) std::memcpy(m_pDate->ptr(), other.m_pDate->ptr(), 8);
  return *this;
}

Date4& CQmsDate::Value() {
  if (!m_pDate) QmsRaise(QMS_FATAL_BAD_POINTER);
  return *m_pDate;
}

void CQmsDate::Set(long julian) {
  QmsGuarded(QMS_OBJECT_SITE(this, "Set", "Set failed", kTrace), [&] { date4assign(Value().ptr(), julian); });
}

void CQmsDate::Set(const char* data) {
  QmsGuarded(QMS_OBJECT_SITE(this, "Set", "Set failed", kTrace), [&] {
    char* date = Value().ptr();
    std::memcpy(date, kNoDate, 8);
    if (data != nullptr) {
      size_t n = std::strlen(data);
      std::memcpy(date, data, n < 8 ? n : 8);
    }
  });
}

void CQmsDate::Set(const _qmsdate& data) { Set(data.szDate); }

void CQmsDate::Set(const char* text, const char* picture) {
  QmsGuarded(QMS_OBJECT_SITE(this, "Set", "Set failed", kTrace), [&] {
    char* date = Value().ptr();
    if (text == nullptr || text[0] == 0 || picture == nullptr || picture[0] == 0) {
      QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
    }
    CQmsStringPtr repaired(text);
    if (std::strlen(text) != std::strlen(picture) && !GetDateParts(picture, repaired)) {
      std::string mismatch = std::string(text) + " does not match " + picture + "\n";
      QmsReport(QMS_SEVERE_DATE_MISMATCH, QMS_OBJECT_SITE(this, "Set", mismatch.c_str(), 0));
      QmsRaise(QMS_SEVERE_DATE_MISMATCH);
    }
    Picture engine(picture, false);
    char parsed[8];
    date4init(parsed, repaired, engine.text);
    std::memcpy(date, parsed, 8);
  });
}

bool CQmsDate::GetDateParts(const char* picture, CQmsStringPtr& text) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetDateParts", "GetDateParts failed", kTrace), [&] {
    if (picture == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    std::string pictureText = picture;
    std::vector<std::string> separators = Pieces(pictureText, IsDateLetter);
    if (separators.size() != 2) return false;
    const std::string separator = separators[0];

    std::vector<std::string> parts = SplitAtSeparator(pictureText, separator);
    if (parts.size() != 3) return false;
    int monthAt = -1;
    int dayAt = -1;
    int yearAt = -1;
    size_t yearLength = 0;
    for (int i = 0; i < 3; i++) {
      std::string part = parts[size_t(i)];
      for (char& c : part) c = platform::AsciiUpper(c);
      auto holds = [&](char letter) { return part.find(letter) != std::string::npos; };
      if (holds('M')) {
        if (part.size() != 2) return false;
        monthAt = i;
      } else if (holds('D')) {
        if (part.size() != 2) return false;
        dayAt = i;
      } else if (holds('C')) {
        if (part.size() != 4) return false;
        yearAt = i;
        yearLength = 4;
      } else if (holds('Y')) {
        if (part.size() != 2) return false;
        yearAt = i;
        yearLength = 2;
      }
    }

    const char* chars = text;
    std::vector<std::string> textParts = SplitAtSeparator(chars ? chars : "", separator);
    if (textParts.size() != 3) return false;
    if (yearAt >= 0 && textParts[size_t(yearAt)].size() != yearLength) return false;
    if (dayAt >= 0 && textParts[size_t(dayAt)].size() != 2) textParts[size_t(dayAt)].insert(0, "0");
    if (monthAt >= 0 && textParts[size_t(monthAt)].size() != 2) textParts[size_t(monthAt)].insert(0, "0");
    text = (textParts[0] + separator + textParts[1] + separator + textParts[2]).c_str();
    return true;
  });
}

const char* CQmsDate::GetDateStr() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetDateStr", "GetDateStr failed", kTrace),
                    [&] { return Value().str(); });
}

CQmsDate::operator _qmsdate&() {
  return QmsGuarded(QmsSite{"CQmsDate", nullptr, "operator QDATESTRUCT&", "operator QDATESTRUCT failed", __FILE__,
                            __LINE__, kTrace},
                    [&]() -> _qmsdate& {
                      std::memcpy(m_Date.szDate, Value().ptr(), 8);
                      m_Date.szDate[8] = 0;
                      return m_Date;
                    });
}

int CQmsDate::GetYear() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetYear", "GetYear failed", kTrace),
                    [&] { return int(c4atol(Value().ptr(), 4)); });
}

int CQmsDate::GetMonth() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetMonth", "GetMonth failed", kTrace),
                    [&] { return int(c4atol(Value().ptr() + 4, 2)); });
}

int CQmsDate::GetDay() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetDay", "GetDay failed", kTrace),
                    [&] { return int(c4atol(Value().ptr() + 6, 2)); });
}

const char* CQmsDate::GetMonthStr() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetMonthStr", "GetMonthStr failed", kTrace),
                    [&] { return date4cmonth(Value().ptr()); });
}

long CQmsDate::GetJulian() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetJulian", "GetJulian failed", kTrace),
                    [&] { return date4long(Value().ptr()); });
}

void CQmsDate::Format(char* out, const char* picture) {
  QmsGuarded(QMS_OBJECT_SITE(this, "Format", "Format failed", kTrace), [&] {
    if (out == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    Picture engine(picture, true);
    date4format(Value().ptr(), out, engine.text);
  });
}

const char* CQmsDate::Format(const char* picture) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "Format", "Format failed", kTrace), [&] {
    Picture engine(picture, true);
    const char* text = Value().format(engine.text);
    if (text == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    return text;
  });
}

bool QmsIsEmptyDate(const char* text) {
  if (text == nullptr) return true;
  for (const char* p = text; *p; p++) {
    if (*p != ' ' && *p != '0') return false;
  }
  return true;
}
