// Exporters: the objects of a boundary file (or objects a caller hands over
// one by one) written to BNA text, interchange text (.pxf with its .pxd data
// file), a shapefile with its dBASE file, or a map table. CzonExporter is the
// object behind a handle of type 7; the pipExport*Intern bodies (declared in
// zonelib.h) work on it.
//
// Who writes what:
//   export.cpp      CzonExporter (the source file, pipExportWrite, the object
//                   dispatch) and the pipExport* bodies and entries
//   export_bna.cpp  MakeBNAExporter
//   export_pxf.cpp  MakePXFExporter
//   export_shp.cpp  MakeSHPExporter  (shapefile + dBASE)
//   export_tab.cpp  MakeTABExporter  (map table through Layerio)
// The writer classes live in their own .cpp files; only their factories are
// shared.
//
// The writer contract:
//   - open(path) makes the outputs; 1, or -1 (reported where the text says
//     so; a file that cannot be created gives -1 without a report). A writer
//     whose open failed is destroyed without close.
//   - writePoint / writeLine / writeRegion get one object (ExportObject):
//     the name argument (may be null), a copy of its 312-byte information
//     record (kind, names, label point, style values), its points as
//     millionths of a degree in part order, one point count a part and the
//     part count (for a point object: the number of points, and coords holds
//     that many; its part counts are not read). Writers convert each
//     coordinate to degrees as value / 1e6 (ExportDegrees). The counts are
//     checked before a writer runs: partCount >= 1 and every part count
//     >= 0, so PointCount() points stand in coords. 1, or -1; the dispatch
//     reports a
//     failing write (code 100 with the object's name), so a writer reports
//     only what it alone knows (allocation 104, a table's reason).
//   - exportObject dispatches by info.kind; a writer overrides it to check
//     or note the kind first (shapefile: the accepted kind; map table: the
//     type code) and then calls CzonExporter::exportObject.
//   - close(keep) ends the outputs: 1, or -1 (reported) when what was
//     written did not all reach the disk; deleteOutputs() removes them for
//     the formats that remove anything (BNA, interchange text), when the
//     export is discarded and also when close failed.
//   - Reports go to the owner context's error through Report(), source
//     "exporter".
//   - Text files are written with "\n" line ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "boundary/mainintn.h"
#include "zonelib.h"

inline constexpr const char* kExporterSource = "exporter";

// Codes of the reports.
inline constexpr int32_t kExportObjectCode = 100;  // object access, writing, tables
inline constexpr int32_t kExportMemoryCode = 104;
inline constexpr int32_t kExportSourceCode = 105;

// Texts shared by more than one writer.
inline constexpr const char* kExportFilenameMemoryText = "Could not allocate filename buffer.\n";
inline constexpr const char* kExportWrongKindText =
    "An incorrect type was attempted to be written.";
// A text output whose writes or close failed (a full disk): code 100.
inline constexpr const char* kExportWriteFailedFormat = "Could not write %s.\n";
// A name a format cannot hold (code 100): the name, then what it holds and
// the format ("a line end", "BNA text").
inline constexpr const char* kExportNameNotHeldFormat =
    "The name \"%s\" holds %s, which %s cannot hold.\n";

// The name buffer of one source object.
inline constexpr uint32_t kExportNameSize = 160;

inline double ExportDegrees(int32_t value) { return value / 1e6; }

// One object as it reaches a writer.
struct ExportObject {
  const char* name;                // the name argument; may be null
  const pipObjectInfoStruct* info;  // never null
  const int32_t* coords;           // x, y pairs in millionths, parts in order
  const int32_t* partCounts;       // one point count a part
  int32_t partCount;               // parts (a point object: its points)

  // Points in coords: the part count for a point object, else the sum of
  // the part counts.
  int64_t PointCount() const;
  // Index in coords (in points, not values) of the first point of part.
  int64_t PartStart(int32_t part) const;
};

class CzonExporter {
 public:
  explicit CzonExporter(pipContext& owner);
  virtual ~CzonExporter();
  CzonExporter(const CzonExporter&) = delete;
  CzonExporter& operator=(const CzonExporter&) = delete;

  // ---- The writer's slots -------------------------------------------------
  virtual int32_t writePoint(const ExportObject& object) = 0;
  virtual int32_t writeLine(const ExportObject& object) = 0;
  virtual int32_t writeRegion(const ExportObject& object) = 0;
  // Only the interchange text writer has its own; the others forward to open.
  virtual int32_t openWithOptions(const char* path, int32_t version, const char* delimiter);
  virtual int32_t open(const char* path) = 0;
  virtual int32_t close(int32_t keep) = 0;
  // Dispatches by kind: 2 point, 1 line, 0 region; reports a failure (100).
  virtual int32_t exportObject(const ExportObject& object);
  // Removes what was written; by default nothing.
  virtual int32_t deleteOutputs();

  // ---- The source boundary file ------------------------------------------
  // Opens path through the object-file search with the open mode; 1 or -1
  // (reported, 105/104). A source already open is closed first.
  int32_t openObjectFile(const char* path, uint32_t mode);
  // Closes the source, if any; 1.
  int32_t closeObjectFile();
  bool HasSource() const { return source_ != nullptr; }

  // Exports the next object of the source (pipExportWrite): its name into
  // name (at most size - 1 characters and a NUL; size 0 leaves name alone),
  // the percentage done (truncated) and the objects done. 1; -1 once every
  // object is written, or on a failure (reported).
  int32_t writeNext(char* name, uint32_t size, int32_t* percentage, int32_t* done);

  // Exports one object a caller hands over (pipExportInsert): checks the
  // counts (see the contract above), then exportObject.
  int32_t insert(const char* name, const pipObjectInfoStruct* info, const int32_t* coords,
                 const int32_t* partCounts, int32_t partCount);

  int32_t ObjectsDone() const { return done_; }
  int32_t ObjectsInSource() const { return total_; }
  double Percentage() const { return percentage_; }

  pipError& Error() { return *error_; }
  // Reports to the owner context's error, source "exporter"; returns -1.
  int32_t Report(int32_t code, const char* detail, int line);
  // The same with a printf-style detail.
  int32_t ReportF(int32_t code, int line, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

 private:
  int32_t readNextObject(char* name);
  int32_t readObjectCoords();

  int32_t done_ = 0;
  int32_t total_ = 0;
  uint32_t points_ = 0;
  uint32_t lines_ = 0;
  uint32_t regions_ = 0;
  uint32_t maxPoints_ = 0;
  uint32_t maxParts_ = 0;
  double percentage_ = 0.0;
  bool first_ = true;
  pipObjectFileObject* source_ = nullptr;
  pipContext* owner_;
  pipErrorRef error_;
  pipObjectInfoStruct info_{};
  std::vector<int32_t> coords_;
  std::vector<int32_t> parts_;
  int32_t partCount_ = 0;
};

// The writers. Each gives the exporter unopened (the caller calls open), or
// null when it cannot be made.
std::unique_ptr<CzonExporter> MakeBNAExporter(pipContext& owner);
std::unique_ptr<CzonExporter> MakePXFExporter(pipContext& owner);
// Accepts objects of kind only (0 region, 1 line, 2 point); open gets the
// path with its extension already cut (ExportShapeBase).
std::unique_ptr<CzonExporter> MakeSHPExporter(pipContext& owner, int32_t kind);
// option: the first value of the current type code.
std::unique_ptr<CzonExporter> MakeTABExporter(pipContext& owner, int32_t option);

// Names in the text formats stand in double quotes with each double quote
// doubled (BNA text, interchange data rows, map-table row text); their
// readers take a doubled quote as one. A line end cannot stand in the line
// formats, nor a TAB in a row text: ExportNameHolds finds the first name of
// the object (the name argument, the name, the second name) that holds one
// of the characters of what, reports it (100, kExportNameNotHeldFormat with
// the character's description and the format) and gives false.
std::string ExportQuoted(const std::string& name);
bool ExportNamesFit(CzonExporter& exporter, const ExportObject& object, const char* what,
                    const char* described, const char* format);

// The path cut at its last '.', unless that '.' is its first character or
// lies before the last separator ('/' or '\'): "../out" stays whole.
std::string ExportShapeBase(const char* path);

// A text output file written through the platform layer, "\n" line ends.
class ExportTextFile {
 public:
  ExportTextFile() = default;
  ~ExportTextFile();
  ExportTextFile(const ExportTextFile&) = delete;
  ExportTextFile& operator=(const ExportTextFile&) = delete;

  // Creates or truncates path; false when it cannot be made.
  bool Create(const std::string& path);
  bool IsOpen() const { return stream_ != nullptr; }
  const std::string& Path() const { return path_; }
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Write(const char* text);
  // Closes the file; false when a write or the close failed. True when it
  // was not open.
  bool Close();
  // Closes the file and removes it; false when it could not be removed.
  bool Remove();

 private:
  std::FILE* stream_ = nullptr;
  std::string path_;
  bool failed_ = false;
};

template <>
struct HandleKind<CzonExporter> {
  static constexpr uint32_t kType = kHandleExport;
  static void Discard(CzonExporter* exporter) { pipExportTermIntern(exporter, 0); }
};
