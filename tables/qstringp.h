// CQmsStringPtr: the table library's text. A single-byte, NUL-terminated
// buffer on the C heap that grows to exactly what it must hold (every growth
// reallocates to the new length + 1; nothing shrinks it but FreeString, a
// null assignment and TakeFrom), can adopt or lend a caller's buffer, and
// carries the in-place edits that field and format-file parsing need.
//
// A null text (no text at all) is distinct from the empty text. The string
// owns its buffer only when it allocated it; an adopted buffer
// (TakeFrom(buffer, size) with a size) is filled but never freed or grown, so
// a text that does not fit it fails with 22000000 and leaves it unchanged.
//
// Character classes (bytes above 127 belong to none): blanks 9-13 and the
// space; punctuation 33-47, 58-64, 91-96, 123-126; digits; ASCII letters.
#pragma once

#include <cstdint>

#include "tables/qcodes.h"
#include "tables/qcolitem.h"

class CQmsStringPtr : public CQmsCollectable, public CQmsTest {
 public:
  CQmsStringPtr() = default;
  // Room for size characters (Alloc); 0 fails with 22000000.
  explicit CQmsStringPtr(long size);
  CQmsStringPtr(const char* text);  // NOLINT: texts convert freely
  CQmsStringPtr(const CQmsStringPtr& other);
  ~CQmsStringPtr() override;

  // A null text frees an owned buffer and leaves the text null.
  CQmsStringPtr& operator=(const char* text);
  // A non-zero character becomes a one-character text; 0 is a null assignment.
  CQmsStringPtr& operator=(char c);
  CQmsStringPtr& operator=(const CQmsStringPtr& other);

  // Storage.
  void Alloc(unsigned long n);          // 22000000 when a text exists or n is 0
  void ReallocString(unsigned long n);  // makes sure n characters fit
  void FreeString();
  unsigned long GetStringSize() const;  // capacity, 0 for a null text
  unsigned long Length() const;

  // Access.
  operator const char*() const { return m_pszText; }  // NOLINT: may be null
  char& operator*();                                   // 22000000 on a null text
  char& operator[](int i);                             // no range test; 22000000 on a null text
  QBOOL operator!() const { return m_pszText == nullptr; }
  QBOOL operator==(const CQmsStringPtr& other) const;
  bool IsEqualValue(CQmsCollectable& other) const override;

  // Transfer of buffers.
  // With size 0, *dest (null or C heap) is reallocated to the text; with a
  // size, *dest must be null and gets a new buffer of size + 1.
  void CopyTo(char** dest, unsigned long size);
  void CopyTo(char** dest) { CopyTo(dest, 0); }
  // *dest gets the text pointer; an adopted buffer is handed over, an owned
  // one stays owned by the string (a view valid until the string changes).
  void GiveTo(char** dest);
  // Lets go of an adopted buffer, then refers to buffer: with a size as an
  // adopted buffer of that many bytes, with 0 as a C-heap buffer that the
  // first growth reallocates (and then owns). A null buffer with a size
  // reserves room for size characters.
  void TakeFrom(char* buffer, unsigned long size);

  // Edits, in place. Append and Prepend create a null text; the others leave
  // it alone.
  void Append(const char* s);
  void Append(const CQmsStringPtr& s) { Append(s.m_pszText); }
  // At most 1023 formatted characters are appended.
  void AppendFormattedData(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Prepend(const char* s);
  void Prepend(const CQmsStringPtr& s) { Prepend(s.m_pszText); }
  void Reverse();
  void ToUpper();
  void ToLower();
  void TrimLeft();
  void TrimRight();
  void Trim();
  void RemoveBlanks();
  void RemovePunct();
  void RemoveBlanksAndPunct();
  void RemoveNumeric();
  void RemoveAlpha();
  // Every occurrence of from's first character becomes to's first character.
  void ReplaceChar(const char* from, const char* to);
  QBOOL ContainsOnlyBlanks() const;
  // Equal once every blank is removed from both (a null text counts as empty).
  QBOOL CompareNoSpace(CQmsStringPtr& other) const;
  // Keeps at most count characters from position start; a start beyond the
  // length changes nothing; start 0 with count 0 keeps the text.
  void SubString(int start, int count);

  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override {
    ZeroCounts(passed, failed);
  }

 private:
  bool Owns() const { return m_pszText != nullptr && m_uAllocated > 0 && m_uAdopted == 0; }
  unsigned long Capacity() const;
  // Append and Prepend: s behind or in front of the text.
  void Join(const char* s, bool atFront);
  // Keeps the characters for which keep answers true, in order.
  template <class Keep>
  void KeepOnly(Keep keep);

  char* m_pszText = nullptr;
  uint32_t m_uAdopted = 0;    // size of an adopted buffer, terminator included
  uint32_t m_uAllocated = 0;  // size of the buffer the string allocated
};

// The text of a string, the empty text for a null one.
inline const char* QmsText(const CQmsStringPtr& text) {
  const char* p = text;
  return p != nullptr ? p : "";
}

// C functions on plain character arrays.
extern "C" {
// Removes trailing spaces and tabs only.
void TrimRight(char* s);
// Position of the first character that is neither a space nor a tab; -1 when none.
int FindNonBlank(const char* s);
// Position of the first character that is not '0'; -1 when none.
int FindNonZero(const char* s);
// A number below limit drawn from the clock in seconds (the same within one
// second); -1 when limit is below 1.
int GenerateRandomNumber(int limit);
// 1 when fields 1-11 and 13-21 of a record of 21 signed 32-bit fields are all
// zero or more (field 12 is not examined).
unsigned char ValidateDiskSpaceStructure(const int32_t* record);
}
