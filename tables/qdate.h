// CQmsDate: one calendar date held as the data text "ccyymmdd" (eight blanks
// when no date is set), over the xBase engine's date value and its date
// arithmetic, picture parsing and formatting.
//
// Pictures: c (century digit), y (year digit), m (month digit; three or more
// give the month name) and d (day digit), in either case; every other
// character stands for itself. A picture is cut to 80 characters before it
// reaches the engine. Set(text, picture) first repairs a text whose month or
// day has one digit ("3/7/2011" by "mm/dd/ccyy" becomes "03/07/2011"); a text
// that cannot be repaired to the picture fails with 22000130. A missing
// century comes from the clock (platform::Env), so tests can fix it.
#pragma once

#include <memory>

#include "tables/qcodes.h"
#include "tables/qobject.h"
#include "tables/qstringp.h"
#include "tables/qvariant.h"

class Date4;

class CQmsDate : public CQmsObject, public CQmsTest {
 public:
  static constexpr int kPictureLimit = 80;

  static const char* GetDataPicture() { return "ccyymmdd"; }
  static const char* GetDefaultPrintPicture() { return "mm/dd/ccyy"; }

  CQmsDate();
  // 0 or less gives no date.
  explicit CQmsDate(long julian);
  // The first 8 characters of a data text.
  explicit CQmsDate(const char* data);
  explicit CQmsDate(const _qmsdate& data);
  // The text parsed by the picture, without repair.
  CQmsDate(const char* text, const char* picture);
  CQmsDate(const CQmsDate& other);
  ~CQmsDate() override;
  CQmsDate& operator=(const CQmsDate& other);

  void Set(long julian);
  void Set(const char* data);
  void Set(const _qmsdate& data);
  // 22000008 for an empty text or picture, 22000130 when the text does not
  // match the picture; a failed Set keeps the previous date.
  void Set(const char* text, const char* picture);

  // The data text, terminated, in the date value's own buffer.
  const char* GetDateStr();
  operator _qmsdate&();
  int GetYear();
  int GetMonth();
  int GetDay();
  // "January" .. "December"; the empty text without a month.
  const char* GetMonthStr();
  // 0 without a date, -1 for an invalid one.
  long GetJulian();
  // The date under the picture (the default print picture when none or
  // empty), as long as the picture and not terminated.
  void Format(char* out, const char* picture);
  // The same, terminated, in the date value's own buffer.
  const char* Format(const char* picture);

  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

 protected:
  // Rebuilds a text whose lengths differ from the picture's: splits both at
  // the picture's one separator and puts a 0 before a one-digit month or
  // day. False when the text cannot be brought to the picture's form.
  bool GetDateParts(const char* picture, CQmsStringPtr& text);

 private:
  Date4& Value();

  std::unique_ptr<Date4> m_pDate;
  _qmsdate m_Date;
};

// True for the text of no date: blanks, zeros or nothing ("        ",
// "00000000"). Tables write such a date as an empty cell and read an empty
// cell back as it.
bool QmsIsEmptyDate(const char* text);
