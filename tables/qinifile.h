// CQmsIniFile: a sectioned text file of "name=value" item lines, "[section]"
// headers and ";" comments, held whole as a cache of lines. Reads look
// items up in the cache, writes change the cache, Flush writes the cache
// back.
//
// Lines lose their trailing blanks when loaded. An item's name is the text
// before its first "=", its value the text after it up to the next "=" (so a
// value holds no "="); names and values keep blanks around "=". Section
// names may be given bare or bracketed; headers and item names compare
// ignoring case. A line with no item name ("=x", "===") is a bad line
// (22000003): lookups pass over it. A line longer than 3071 characters ends
// the load; the file is then refused by Flush (22000007) rather than
// rewritten without its tail.
//
// Flush rewrites the whole file through a temporary file renamed over it;
// runs of empty lines shrink to one and leading empty lines are dropped. It
// needs the file opened for writing (modes 2 and 6) and raises 22000007
// when the rewrite fails.
//
// The option flags are stored and read by nothing; WriteComment and the
// pattern operations other than ReadPatternSections check their arguments
// and do nothing else.
#pragma once

#include <string>
#include <vector>

#include "tables/qcodes.h"
#include "tables/qcolindx.h"
#include "tables/qobject.h"
#include "tables/qstringp.h"

class CQmsIniFile : public CQmsObject, public CQmsTest {
 public:
  static constexpr int kNameLimit = 255;
  static constexpr int kLineLimit = 3071;
  // Stream modes.
  static constexpr int kModeWrite = 2;
  static constexpr int kModeRead = 4;
  static constexpr int kModeReadWrite = 6;

  // No file name, no file opened.
  CQmsIniFile();
  // Opens the file for reading and writing (creating it when missing) and
  // loads it when it existed.
  CQmsIniFile(const char* name, unsigned char alphabetizeSections, unsigned char alphabetizeItems,
              unsigned char generateCommentHeader);
  ~CQmsIniFile() override;

  // A new name (compared ignoring case) closes the file, opens the new one
  // in mode and loads it when it existed; the same name does nothing.
  void SetFilename(const char* name, int mode);
  unsigned char FileExists();
  const char* GetFilename() const { return m_FileName; }
  // The ini version, "1.0.0".
  const char* GetVersion() const { return m_Version; }
  // Empties the cache; any failure is reported and raised as 23000002.
  void Clear();
  // Reloads the cache from the file.
  void Refresh();
  void Flush();
  // Reopens the file for reading and writing (22000005 when it cannot be).
  void ClearRemnants();

  bool IsValid() const override { return true; }
  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

  unsigned char SectionExists(const char* section);
  unsigned char ItemExists(const char* section, const char* item);
  // New string values (owned by the caller) appended to out.
  void ReadSections(CQmsIndexedCollection& out);
  void ReadPatternSections(const char* pattern, CQmsIndexedCollection& out);
  void ReadItemNames(const char* section, CQmsIndexedCollection& out);

  // A missing item answers the fallback.
  double ReadItemValueDouble(const char* section, const char* item, double fallback);
  int ReadItemValueInt(const char* section, const char* item, int fallback);
  long ReadItemValueLongInt(const char* section, const char* item, long fallback);
  unsigned long ReadUnsignedLong(const char* section, const char* item, unsigned long fallback);
  unsigned char ReadItemValueLogical(const char* section, const char* item, unsigned char fallback);
  // Points into the object; valid until the next read.
  const char* ReadItemValueString(const char* section, const char* item, const char* fallback);
  // The value split at "|" into new string values appended to out; answers
  // out's count, or 0 when the item is missing.
  int ReadMultipleItemStrings(const char* section, const char* item, CQmsIndexedCollection& out);

  // The comment texts are accepted and not used.
  void WriteItemValueString(const char* section, const char* item, const char* value, const char* comment);
  void WriteItemValueDouble(const char* section, const char* item, double value, const char* comment);
  void WriteItemValueInt(const char* section, const char* item, int value, const char* comment);
  void WriteItemValueLongInt(const char* section, const char* item, long value, const char* comment);
  void WriteItemValueLogical(const char* section, const char* item, unsigned char value, const char* comment);
  void WriteUnsignedLong(const char* section, const char* item, unsigned long value, const char* comment);
  // Only an existing item is written: its value becomes the texts joined
  // with "|" (none: 22000011). Answers the number joined, 0 for a missing item.
  int WriteMultipleItemStrings(const char* section, const char* item, CQmsIndexedCollection& values,
                               const char* comment);

  // A missing item raises 22000011.
  void DeleteItem(const char* section, const char* item);
  // The header and its lines up to the next header, and an empty line just
  // before the header; a missing section does nothing.
  void DeleteSection(const char* section);

  void WriteComment(const char* text);
  void ReadPatternItemNames(const char* pattern, const char* item, CQmsIndexedCollection& out);
  void DeletePatternItem(const char* pattern, const char* item);
  void DeletePatternSection(const char* pattern);

  void SetAlphabetizeSections(unsigned char on) { m_bAlphabetizeSections = on; }
  void SetAlphabetizeItems(unsigned char on) { m_bAlphabetizeItems = on; }
  void SetGenerateCommentHeader(unsigned char on) { m_bGenerateCommentHeader = on; }
  void SetRefreshBeforeRead(unsigned char on) { m_bRefreshBeforeRead = on; }
  void SetAutoFlushAfterWrite(unsigned char on) { m_bAutoFlushAfterWrite = on; }

 protected:
  // Modes 2, 4 and 6 (others open nothing and answer 0); answers 1 when the
  // file existed.
  int OpenIOStream(int mode);
  void CloseIOStream();

  static bool IsSection(const std::string& line);
  static bool IsComment(const std::string& line);
  // 22000008 for an empty line, 22000003 for a line without a name.
  const char* GetItemName(const char* line);
  const char* GetValueString(const char* line);
  int FindSectionIndex(const char* section);
  int FindItemIndex(const char* section, const char* item);
  int FindItemInsertIndex(const char* section, const char* item);
  void PutValueString(const char* section, const char* item, const char* value, const char* comment);
  void Tokenize(const char* text, CQmsIndexedCollection& out);
  void Alphabetize(const char* first, const char* second);

 private:
  CQmsIniFile(const CQmsIniFile&) = delete;
  CQmsIniFile& operator=(const CQmsIniFile&) { return *this; }

  // The item name of a line, or the empty text for a line that has none.
  static std::string NameOf(const std::string& line);
  // The index of the item line after the first header at index, or -1.
  int ItemInSection(size_t header, const std::string& item) const;
  // The index of the next header after index, or the line count.
  size_t SectionEnd(size_t header) const;
  const std::string* FindItemLine(const char* section, const char* item);

  CQmsStringPtr m_LibraryVersion;
  CQmsStringPtr m_Version;
  CQmsStringPtr m_FileName;
  CQmsStringPtr m_ValueText;
  CQmsStringPtr m_ItemName;
  int m_iMode = 0;            // the mode the file is open in; 0 when not open
  bool m_bPartial = false;    // the last load stopped before the end of the file
  std::vector<std::string> m_Lines;
  unsigned char m_bAlphabetizeSections = 0;
  unsigned char m_bAlphabetizeItems = 0;
  unsigned char m_bGenerateCommentHeader = 0;
  unsigned char m_bRefreshBeforeRead = 0;
  unsigned char m_bAutoFlushAfterWrite = 0;
};
