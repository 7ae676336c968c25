// ObjectBuilder: the base of gsbbuild's input builders (shapefile,
// interchange text, map table, tables of the table library). It keeps the
// paths of one run, feeds the boundary engine's import loop, makes and later
// removes the temporary attribute table, and has the attribute file written
// from it.
//
// The temporary attribute table is an xBase table beside the output: every
// attribute field of the input plus QRECID, the record number under which
// the boundary file holds the row's object. Its name is fresh for every run
// ("<output stem>_gsa.<unique>.dbf" in the output's folder), so no file of
// the user's is overwritten or removed.
//
// Contracts on the border cases:
//   - Any failure of the attribute step (a table operation that raises a
//     code, a row with a byte of 128 or above, a write that fails) makes it
//     return false with a console line; the importer then removes both
//     outputs.
//   - A row holding a byte of 128 or above is refused with the lines of
//     kExtendedText..., because attribute files keep 7-bit text. The rows
//     are all read: every refused record is listed with its number and
//     fields (the first kExtendedRecordLimit of them), then the count.
//   - The import loop ends the import in every case: kept when every read
//     succeeded and the engine finished the file, discarded otherwise. Records
//     were read but every one was passed over: discarded, with a line
//     saying how many and why.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/qrecord.h"
#include "tables/qtable.h"
#include "tables/qtablefr.h"

inline constexpr const char* kExtendedTextConsole =
    "ERROR: gsbbuild failed. Extended ASCII characters are not supported.\n";
inline constexpr const char* kExtendedTextLog =
    "ERROR: gsbbuild failed. extended ASCII characters are not supported.\n";
// One line per refused record: its number in the input, the fields holding
// such bytes, then the row as read.
inline constexpr const char* kExtendedRecordFormat =
    "Record %ld, field %s, has extended ASCII characters:\n %s\n";
inline constexpr const char* kExtendedMoreFormat =
    "... and %ld more records with extended ASCII characters.\n";
inline constexpr const char* kExtendedCountFormat =
    "%ld records have extended ASCII characters.\n";
// Refused records listed one by one; the rest are counted.
inline constexpr long kExtendedRecordLimit = 20;
inline constexpr const char* kInsertErrorText = "Error inserting into GSB file.\nProcess halting.\n";
inline constexpr const char* kEngineErrorFormat = "Arealis error data: Message: %s, Detail: %s\n";
inline constexpr const char* kEngineDetailFormat = "Arealis error data: %s\n";
inline constexpr const char* kEngineCodeFormat = "Arealis error data: error %d\n";
inline constexpr const char* kFeatureTypeText =
    "Feature type not recognized. It will not be inserted into the GSB.\n";
// kFeatureTypeText after the number (from 1) of the input's record.
inline constexpr const char* kFeatureRecordFormat = "Record %zu: %s";
inline constexpr const char* kTableOpenFormat = "Error: Unable to open the table %s: %s.\n";
inline constexpr const char* kNothingStoredFormat =
    "Error: None of the %zu records of %s could be stored: each was passed over as a feature "
    "type a GSB file does not hold (a null shape, a multipoint, a type with Z or M values, or a "
    "shape without points).\n";
inline constexpr const char* kRecordIdField = "QRECID";
inline constexpr int kRecordIdWidth = 12;

// Prints the boundary engine's error of the library context (its message
// and detail; the detail alone for a code without a text).
void PrintEngineError(uint32_t library);
// Prints (and logs) the warning an input's open left in the library
// context, such as an id field that is not in the input; nothing when the
// context holds no warning. Whether it printed one.
inline constexpr int32_t kEngineWarningCode = 106;
inline constexpr const char* kEngineWarningMark = "WARNING:";
bool PrintEngineWarning(uint32_t library);
// After the warning of an id field that is not in the input: the name looked
// for and the fields there are (printed and logged).
inline constexpr const char* kIdFieldsFormat =
    "The id field %s is not a field of %s; its fields are: %s.\n";
void PrintIdFields(const char* idField, const std::string& file,
                   const std::vector<std::string>& fields);
// Whether the text holds a byte of 128 or above.
bool HasExtendedByte(std::string_view text);
// The record's values as text, separated by TAB, but for the field skip
// (for messages).
std::string RecordRowText(CQmsRecord& record, int skip = -1);

// Splits a row of values at every separator: two separators in a row give
// an empty value. Blanks before a value are skipped; a value may open in a
// double or a single quote, and later double quotes open and close quoted
// runs again. Separators inside quotes are kept, the quotes are removed, and
// a doubled quote gives one quote character.
std::vector<std::string> SplitRow(std::string_view row, std::string_view separators);

// The temporary attribute table while it is written: created with the given
// fields plus QRECID, rows appended with their record numbers. Table
// operations raise their codes (long) as the table library does.
class TempAttributeTable {
 public:
  explicit TempAttributeTable(const std::string& path);
  ~TempAttributeTable();
  TempAttributeTable(const TempAttributeTable&) = delete;
  TempAttributeTable& operator=(const TempAttributeTable&) = delete;

  // Creates the table: fields (definitions only) and QRECID; false when it
  // does not open afterwards.
  bool Create(const CQmsRecord& fields);
  // The record to fill: the table's fields, QRECID last.
  CQmsRecord& Row() { return row_; }
  // Empties every value of Row().
  void ClearRow() { row_.ClearData(); }
  // Sets QRECID and appends Row(). A row whose text values (or rowText)
  // hold a byte of 128 or above is not appended but refused: listed with
  // inputRecord (0: recordNumber) and the fields that hold such bytes;
  // rowText, when given, is what the listing shows, else the row's values.
  // Returns true either way: the caller reads on and asks AllAccepted.
  bool Append(long recordNumber, const std::string* rowText = nullptr, long inputRecord = 0);
  // Whether no row was refused; when some were, prints how many (and how
  // many beyond those listed).
  bool AllAccepted() const;
  void Close();
  CQmsFolioRackTable& Table() { return table_; }

 private:
  CQmsFolioRackTable table_;
  CQmsRecord row_;
  int recordId_ = -1;
  long refused_ = 0;
};

class ObjectBuilder {
 public:
  ObjectBuilder() = default;
  // Removes the temporary attribute table when one was named.
  virtual ~ObjectBuilder();
  ObjectBuilder(const ObjectBuilder&) = delete;
  ObjectBuilder& operator=(const ObjectBuilder&) = delete;

  // Keeps the paths: the input, and the attribute file (the output with its
  // last character made 'a'). The import handle is the builders' concern.
  virtual bool Open(uint32_t import, const char* input, const char* output);
  // Makes the temporary attribute table from the input.
  virtual bool AttributeTable() = 0;
  // The import loop over pipImportRead; ends the import.
  virtual bool Build(uint32_t library, uint32_t import);

  void SetIdField(const char* idField) { idField_ = idField; }
  // Where WriteAttributeFile writes (the attribute file of the output, from
  // Open, when not set): the importer builds under a fresh name.
  void SetAttributeTarget(const std::string& path) { attributeTarget_ = path; }
  // The library context whose errors the builder prints.
  void SetLibrary(uint32_t library) { library_ = library; }
  // Writes the attribute file from the temporary table with the boundary
  // file's creation stamp; a failed write leaves no attribute file.
  bool WriteAttributeFile(const std::string& stamp);

  const std::string& InputPath() const { return input_; }
  const std::string& AttributePath() const { return attributePath_; }
  const std::string& TempTablePath() const { return tempPath_; }

 protected:
  // Names a fresh temporary table beside the attribute file; false when no
  // name can be made there.
  bool NameTempTable();
  // Opens a table of the input read-only; false, with kTableOpenFormat and
  // the engine's reason (a field type it does not take, a damaged header, a
  // missing memo file), when it stays closed.
  static bool OpenInputTable(CQmsTable& table, const std::string& path);
  // Copies every row of source into the open temporary table, QRECID
  // counting from 1 in the source's order; fields match by name.
  bool CopyRecords(CQmsTable& source, TempAttributeTable& target);
  // Runs body and turns a code raised by the table library, or any other
  // exception, into false with the console line "Error: Unable to <action>
  // (<reason>)."
  template <class Body>
  bool Guard(const std::string& action, Body&& body);
  // Ends the import: pipImportClose, then pipImportTerm keeping the file
  // when ok. False when the engine could not finish the file.
  bool EndImport(uint32_t library, uint32_t import, bool ok);
  // The action of Guard around making the temporary table.
  std::string WriteTempAction() const;
  const char* IdField() const { return idField_; }
  uint32_t Library() const { return library_; }
  // The outcome of each pipImportRead that took an input object, in input
  // order: true stored, false skipped (kind not held by boundary files).
  const std::vector<bool>& Stored() const { return stored_; }

 private:
  static void ReportTableFailure(const std::string& action, const char* reason);

  std::string input_;
  std::string attributePath_;
  std::string attributeTarget_;
  std::string tempPath_;
  const char* idField_ = nullptr;
  uint32_t library_ = 0;
  std::vector<bool> stored_;
};

template <class Body>
bool ObjectBuilder::Guard(const std::string& action, Body&& body) {
  try {
    return body();
  } catch (long code) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "table library code %ld", code);
    ReportTableFailure(action, reason);
  } catch (const std::exception& e) {
    ReportTableFailure(action, e.what());
  }
  return false;
}
