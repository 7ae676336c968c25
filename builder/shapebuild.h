// The builders whose geometry the boundary engine reads itself: ShapeBuilder
// (a shapefile; the attribute table is a copy of its dBASE file) and
// PxfBuilder (interchange text; the attribute table is made from the column
// names of the .PXF header and the rows of its .PXD data file).
//
// Contracts on the border cases:
//   - A missing input makes Open fail without a line of its own; an input
//     the engine refuses prints the engine's error.
//   - A shapefile whose .prj names a projected coordinate system fails the
//     build: its metres would be stored as millionths of a degree. A
//     misspelled id field of a shapefile prints the engine's warning (and
//     logs it).
//   - The companion file (.dbf, .pxd) keeps the letter case of the replaced
//     extension and is found ignoring case.
//   - Interchange columns become text fields 20 characters wide; a data row
//     is split at every comma or TAB (quotes honoured and removed), missing
//     values are empty, extra values ignored. Rows go with the objects the
//     engine stored: the row of an object it skipped (a kind boundary files
//     do not hold) gets no attribute record, so QRECID is always the record
//     number of the row's object.
#pragma once

#include <string>
#include <vector>

#include "base/iofile.h"
#include "base/qerror.h"
#include "builder/objbuild.h"

inline constexpr int kPxfColumnWidth = 20;
inline constexpr const char* kPxfBlankColumnText = "Blank line in columns section.";
inline constexpr const char* kUnexpectedEndOfFile = "Unexpected End of File.";

// A text file read line by line, errors recorded (not shown) in the caller's
// record in the form "Error: %s\nFile: %s\nLine: %ld".
class BuildTextReader {
 public:
  BuildTextReader(const std::string& name, QError& error);
  bool Ready() const { return ready_; }
  // The next line into Line(); false at the end (with mustExist, recorded
  // as "Unexpected End of File.") or on a read error (recorded).
  bool ReadLine(bool mustExist);
  const std::string& Line() const { return line_; }
  long LineNumber() const { return lineNumber_; }
  // Records message with the file name and line number; the reader stops.
  void Report(const char* message);

 private:
  std::string name_;
  QError& error_;
  QInputFile file_;
  std::string line_;
  long lineNumber_ = 0;
  bool ready_ = false;
};

// The column names of an interchange header (the lines before DATA). False
// only when the file cannot be read or a column line is blank; reaching the
// end of the file ends the header early (recorded in error).
bool ReadPxfColumns(const std::string& path, std::vector<std::string>* columns, QError& error);

inline constexpr const char* kProjectedFormat =
    "Error: %s names the projected coordinate system \"%s\". The input must be in degrees of "
    "longitude and latitude.\n";

class ShapeBuilder : public ObjectBuilder {
 public:
  bool Open(uint32_t import, const char* input, const char* output) override;
  // Refuses a shapefile whose .prj names a projected coordinate system,
  // then the import loop.
  bool Build(uint32_t library, uint32_t import) override;
  bool AttributeTable() override;
};

class PxfBuilder : public ObjectBuilder {
 public:
  bool Open(uint32_t import, const char* input, const char* output) override;
  bool AttributeTable() override;

 private:
  std::vector<std::string> columns_;
};
