// The exporter base (the source boundary file, the object dispatch) and the
// pipExport* family of the C interface: each exported function is its frame
// (boundary/cframe.h) around the body that does the work.
#include "services/export.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>

#include "base/qerror.h"
#include "boundary/cframe.h"
#include "boundary/objfile.h"
#include "boundary/polysrch.h"
#include "platform/env.h"

namespace {

// Report lines (source "exporter").
constexpr int kLineNoSourcePath = 60;
constexpr int kLineOpenSource = 70;
constexpr int kLineQuerySource = 80;
constexpr int kLineReadObject = 120;
constexpr int kLineReadCoords = 130;
constexpr int kLineWritePoint = 160;
constexpr int kLineWriteLine = 170;
constexpr int kLineWriteRegion = 180;

constexpr const char* kNoSourcePathText =
    "Please make sure that the object file name \n\tfrom which to transfer files is valid.\n";
constexpr const char* kOpenSourceFormat = "Could not open %s.  \n%s\n%s\n";
constexpr const char* kQuerySourceFormat =
    "AN ERROR HAS OCCURRED READING HEADER OF OBJECT FILE %s.\n%s\n\n";
constexpr const char* kReadObjectFormat = "Could not access object %s.  \n%s\n%s\n";
constexpr const char* kReadCoordsFormat = "Could not access object.  \n%s\n%s\n";
constexpr const char* kPointFailedFormat =
    "An error occured when exporting the point object \"%s\".  \n%s\n%s\n";
constexpr const char* kLineFailedFormat =
    "An error occured when exporting the line object \"%s\".  \n%s\n%s\n";
constexpr const char* kRegionFailedFormat =
    "An error occured when exporting the region object \"%s\".  \n%s\n%s\n";

struct ErrorTexts {
  char message[kPipErrorTextSize] = {};
  char detail[kPipErrorTextSize] = {};
};

// The owner's current message and detail, for reports that quote them.
ErrorTexts Current(pipError& error) {
  ErrorTexts t;
  error.CopyOut(t.message, t.detail, kPipErrorTextSize);
  return t;
}

}  // namespace

// ---- ExportObject ---------------------------------------------------------

int64_t ExportObject::PointCount() const {
  if (info->kind == PIP_OBJECT_POINT) return partCount;
  int64_t sum = 0;
  for (int32_t i = 0; i < partCount; ++i) sum += partCounts[i];
  return sum;
}

int64_t ExportObject::PartStart(int32_t part) const {
  int64_t at = 0;
  for (int32_t i = 0; i < part; ++i) at += partCounts[i];
  return at;
}

// ---- CzonExporter ---------------------------------------------------------

CzonExporter::CzonExporter(pipContext& owner) : error_(owner.ErrorRef()) {}

CzonExporter::~CzonExporter() { closeObjectFile(); }

int32_t CzonExporter::openWithOptions(const char* path, int32_t, const char*) {
  return open(path);
}

int32_t CzonExporter::deleteOutputs() { return 1; }

int32_t CzonExporter::Report(int32_t code, const char* detail, int line) {
  error_->Report(code, detail, kExporterSource, line);
  return -1;
}

int32_t CzonExporter::ReportF(int32_t code, int line, const char* format, ...) {
  // Names (160), two quoted error texts (256 each) and a format's own words.
  char detail[1024];
  va_list args;
  va_start(args, format);
  StrFormatV(detail, sizeof detail, format, args);
  va_end(args);
  return Report(code, detail, line);
}

int32_t CzonExporter::exportObject(const ExportObject& object) {
  const pipObjectInfoStruct& info = *object.info;
  int32_t result = -1;
  const char* format = kRegionFailedFormat;
  int line = kLineWriteRegion;
  switch (info.kind) {
    case PIP_OBJECT_POINT:
      result = writePoint(object);
      format = kPointFailedFormat;
      line = kLineWritePoint;
      break;
    case PIP_OBJECT_LINE:
      result = writeLine(object);
      format = kLineFailedFormat;
      line = kLineWriteLine;
      break;
    case PIP_OBJECT_REGION:
      result = writeRegion(object);
      break;
    default:
      break;
  }
  if (result == 1) return 1;
  const ErrorTexts t = Current(*error_);
  char name[sizeof info.name + 1] = {};
  std::memcpy(name, object.name ? object.name : info.name,
              object.name ? std::min(std::strlen(object.name), sizeof info.name)
                          : strnlen(info.name, sizeof info.name));
  return ReportF(kExportObjectCode, line, format, name, t.message, t.detail);
}

int32_t CzonExporter::openObjectFile(const char* path, uint32_t mode) {
  closeObjectFile();
  if (!path) return Report(kExportSourceCode, kNoSourcePathText, kLineNoSourcePath);
  // The source is opened on the owner's error object only (not through the
  // context), so that an export goes on working after its context ended.
  std::unique_ptr<pipObjectFileObject> file;
  try {
    file = std::make_unique<pipObjectFileObject>(path, mode, error_);
  } catch (const std::bad_alloc&) {
    file.reset();
  }
  if (!file || !file->Search().IsOpen()) {
    const ErrorTexts t = Current(*error_);
    return ReportF(kExportSourceCode, kLineOpenSource, kOpenSourceFormat, path, t.message,
                   t.detail);
  }
  pipObjectFileInfoStruct header{};
  if (pipObjectHandleFileQueryIntern(file.get(), &header) != 1) {
    const ErrorTexts t = Current(*error_);
    return ReportF(kExportSourceCode, kLineQuerySource, kQuerySourceFormat, path, t.message);
  }
  points_ = header.pointCount;
  lines_ = header.lineCount;
  regions_ = header.regionCount;
  // The sum as the header's counts give it; a file that claims more than an
  // i32 holds is counted up to that.
  const uint64_t total = uint64_t(points_) + lines_ + regions_;
  total_ = int32_t(std::min<uint64_t>(total, INT32_MAX));
  maxPoints_ = header.maxPoints;
  maxParts_ = header.maxParts;
  done_ = 0;
  percentage_ = 0.0;
  first_ = true;
  source_ = file.release();
  return 1;
}

int32_t CzonExporter::closeObjectFile() {
  pipObjectFileCloseIntern(&source_);
  return 1;
}

int32_t CzonExporter::readNextObject(char* name) {
  int32_t r = -1;
  if (first_) {
    r = pipObjectFindFirstNameIntern(source_, "*", name, int32_t(kExportNameSize));
    first_ = false;
  } else {
    r = pipObjectFindNextIntern(source_, name, int32_t(kExportNameSize));
  }
  if (r > 0) r = pipObjectGetInfoIntern(source_, &info_);
  if (r > 0) return 1;
  const ErrorTexts t = Current(*error_);
  ReportF(kExportObjectCode, kLineReadObject, kReadObjectFormat, name, t.message, t.detail);
  return r == 0 ? 0 : -1;
}

int32_t CzonExporter::readObjectCoords() {
  // The buffers follow the object, not the header's largest counts, so a
  // header that understates them cannot overrun them.
  uint32_t points = 0, parts = 0;
  int32_t r = pipObjectGetNumCoordsIntern(source_, &points, &parts);
  if (r == 1) {
    const size_t needPoints = std::max<size_t>({points, maxPoints_, 1});
    const size_t needParts = std::max<size_t>({parts, maxParts_, 1});
    if (coords_.size() < 2 * needPoints) coords_.resize(2 * needPoints);
    if (parts_.size() < needParts) parts_.resize(needParts);
    std::vector<uint32_t> counts(needParts);
    uint32_t got = 0;
    r = pipObjectGetCoordsIntern(source_, coords_.data(), uint32_t(needPoints), counts.data(),
                                 int32_t(std::min<size_t>(needParts, INT32_MAX)), &got);
    if (r == 1) {
      int64_t sum = 0;
      for (uint32_t i = 0; i < got; ++i) {
        parts_[i] = int32_t(std::min<uint32_t>(counts[i], INT32_MAX));
        sum += parts_[i];
      }
      partCount_ = int32_t(got);
      // A point object gives one part of one point; its writers take the
      // part count as the number of points.
      if (info_.kind != PIP_OBJECT_POINT && sum > int64_t(needPoints)) r = -1;
    }
  }
  if (r == 1) return 1;
  const ErrorTexts t = Current(*error_);
  return ReportF(kExportObjectCode, kLineReadCoords, kReadCoordsFormat, t.message, t.detail);
}

int32_t CzonExporter::writeNext(char* name, uint32_t size, int32_t* percentage, int32_t* done) {
  if (!source_) return -1;
  if (percentage_ == 100.0) return -1;
  char objectName[kExportNameSize] = {};
  if (readNextObject(objectName) != 1) return -1;
  if (readObjectCoords() != 1) return -1;
  const ExportObject object{objectName, &info_, coords_.data(), parts_.data(), partCount_};
  if (exportObject(object) != 1) return -1;
  if (name && size > 0) {
    const size_t n = std::min<size_t>(strnlen(objectName, sizeof objectName), size - 1);
    std::memcpy(name, objectName, n);
    name[n] = 0;
  }
  if (total_ != 0) {
    ++done_;
    percentage_ = double(done_) / double(total_) * 100.0;
  } else {
    total_ = 1;
    percentage_ = 100.0;
  }
  if (percentage) *percentage = int32_t(percentage_);
  if (done) *done = done_;
  return 1;
}

int32_t CzonExporter::insert(const char* name, const pipObjectInfoStruct* info,
                             const int32_t* coords, const int32_t* partCounts,
                             int32_t partCount) {
  if (!name || !info || !coords || !partCounts || partCount < 1) return -1;
  if (info->kind != PIP_OBJECT_POINT)
    for (int32_t i = 0; i < partCount; ++i)
      if (partCounts[i] < 0) return -1;
  pipObjectInfoStruct copy = *info;
  return exportObject(ExportObject{name, &copy, coords, partCounts, partCount});
}

// ---- Helpers of the writers -----------------------------------------------

std::string ExportQuoted(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool ExportNamesFit(CzonExporter& exporter, const ExportObject& object, const char* what,
                    const char* described, const char* format) {
  const pipObjectInfoStruct& info = *object.info;
  const std::string names[3] = {object.name ? object.name : "",
                                std::string(info.name, strnlen(info.name, sizeof info.name)),
                                std::string(info.name2, strnlen(info.name2, sizeof info.name2))};
  for (const std::string& name : names) {
    if (name.find_first_of(what) == std::string::npos) continue;
    exporter.ReportF(kExportObjectCode, __LINE__, kExportNameNotHeldFormat, name.c_str(),
                     described, format);
    return false;
  }
  return true;
}

std::string ExportShapeBase(const char* path) {
  std::string base(path ? path : "");
  const size_t dot = base.rfind('.');
  const size_t slash = base.find_last_of("/\\");
  if (dot != std::string::npos && dot != 0 && (slash == std::string::npos || dot > slash))
    base.resize(dot);
  return base;
}

ExportTextFile::~ExportTextFile() { Close(); }

bool ExportTextFile::Create(const std::string& path) {
  Close();
  platform::Env& env = platform::Env::Current();
  const int fd = env.Open(path, platform::kWrite | platform::kCreate | platform::kTruncate, 0666);
  if (fd < 0) return false;
  stream_ = env.OpenStream(fd, "w");
  if (!stream_) {
    env.Close(fd);
    env.Remove(path);
    return false;
  }
  path_ = path;
  failed_ = false;
  return true;
}

void ExportTextFile::Printf(const char* format, ...) {
  if (!stream_) return;
  va_list args;
  va_start(args, format);
  if (std::vfprintf(stream_, format, args) < 0) failed_ = true;
  va_end(args);
}

void ExportTextFile::Write(const char* text) {
  if (stream_ && std::fputs(text, stream_) == EOF) failed_ = true;
}

bool ExportTextFile::Close() {
  if (!stream_) return true;
  const bool written = !std::ferror(stream_) && !failed_;
  const bool closed = platform::Env::Current().CloseStream(stream_) == 0;
  stream_ = nullptr;
  return written && closed;
}

bool ExportTextFile::Remove() {
  Close();
  if (path_.empty()) return true;
  return platform::Env::Current().Remove(path_) == 0;
}

// ---- The bodies ------------------------------------------------------------

namespace {

int32_t Init(pipContext* context, const char* path, CzonExporter** out,
             std::unique_ptr<CzonExporter> exporter, const char* openPath) {
  if (!out) return -1;
  *out = nullptr;
  if (!context || !path || !exporter) return -1;
  const int32_t r = exporter->open(openPath);
  if (r != 1) return r;
  *out = exporter.release();
  return 1;
}

}  // namespace

ZONELIB_API int32_t pipExportInitBNAIntern(pipContext* context, const char* path,
                                           CzonExporter** out) {
  if (!context) return -1;
  return Init(context, path, out, MakeBNAExporter(*context), path);
}

ZONELIB_API int32_t pipExportInitPXFIntern(pipContext* context, const char* path,
                                           CzonExporter** out) {
  if (!context) return -1;
  return Init(context, path, out, MakePXFExporter(*context), path);
}

ZONELIB_API int32_t pipExportInitSHPIntern(pipContext* context, const char* path,
                                           CzonExporter** out, int32_t kind) {
  if (!context || !path) return -1;
  const std::string base = ExportShapeBase(path);
  return Init(context, path, out, MakeSHPExporter(*context, kind), base.c_str());
}

ZONELIB_API int32_t pipExportInitTABIntern(pipContext* context, const char* path,
                                           CzonExporter** out, int32_t option) {
  if (!context) return -1;
  return Init(context, path, out, MakeTABExporter(*context, option), path);
}

ZONELIB_API int32_t pipExportOpenIntern(CzonExporter* exporter, const char* path, int32_t mode) {
  if (!exporter) return -1;
  return exporter->openObjectFile(path, uint32_t(mode));
}

ZONELIB_API int32_t pipExportWriteIntern(CzonExporter* exporter, char* name, uint32_t size,
                                         int32_t* percentage, int32_t* done) {
  if (!exporter) return -1;
  return exporter->writeNext(name, size, percentage, done);
}

ZONELIB_API int32_t pipExportInsertIntern(CzonExporter* exporter, const char* name,
                                          const pipObjectInfoStruct* info, const int32_t* coords,
                                          const int32_t* partCounts, int32_t partCount) {
  if (!exporter) return -1;
  return exporter->insert(name, info, coords, partCounts, partCount);
}

ZONELIB_API int32_t pipExportCloseIntern(CzonExporter* exporter) {
  if (!exporter) return -1;
  return exporter->closeObjectFile();
}

ZONELIB_API int32_t pipExportTermIntern(CzonExporter* exporter, int32_t keep) {
  if (!exporter) return -1;
  std::unique_ptr<CzonExporter> owned(exporter);
  const int32_t closed = Guarded(int32_t{-1}, [&] { return owned->close(keep); });
  // Outputs that did not all reach the disk go as discarded ones do: a
  // torn file is not left for a reader to take as whole.
  if (keep == 0 || closed != 1) Guarded(int32_t{-1}, [&] { return owned->deleteOutputs(); });
  // Outputs kept but not all written are a failure the caller must see.
  return keep != 0 && closed != 1 ? -1 : 1;
}

// ---- The C interface ---------------------------------------------------------

ZONELIB_API int32_t pipExportInitBNA(uint32_t context, const char* path, uint32_t* handle) {
  return CreateHandle<CzonExporter>(context, handle, [&](pipContext& c, CzonExporter*& e) {
    return pipExportInitBNAIntern(&c, path, &e);
  });
}

ZONELIB_API int32_t pipExportInitPXF(uint32_t context, const char* path, uint32_t* handle) {
  return CreateHandle<CzonExporter>(context, handle, [&](pipContext& c, CzonExporter*& e) {
    return pipExportInitPXFIntern(&c, path, &e);
  });
}

ZONELIB_API int32_t pipExportInitSHP(uint32_t context, const char* path, uint32_t* handle,
                                     int32_t kind) {
  return CreateHandle<CzonExporter>(context, handle, [&](pipContext& c, CzonExporter*& e) {
    return pipExportInitSHPIntern(&c, path, &e, kind);
  });
}

ZONELIB_API int32_t pipExportInitShape(uint32_t context, const char* path, uint32_t* handle,
                                       int32_t kind) {
  return pipExportInitSHP(context, path, handle, kind);
}

ZONELIB_API int32_t pipExportInitTAB(uint32_t context, const char* path, uint32_t* handle,
                                     int32_t option) {
  return CreateHandle<CzonExporter>(context, handle, [&](pipContext& c, CzonExporter*& e) {
    return pipExportInitTABIntern(&c, path, &e, option);
  });
}

ZONELIB_API int32_t pipExportOpen(uint32_t exporter, const char* path, int32_t mode) {
  return WithHandle<CzonExporter>(
      exporter, [&](CzonExporter& e) { return pipExportOpenIntern(&e, path, mode); });
}

ZONELIB_API int32_t pipExportWrite(uint32_t exporter, char* name, uint32_t size,
                                   int32_t* percentage, int32_t* done) {
  return WithHandle<CzonExporter>(exporter, [&](CzonExporter& e) {
    return pipExportWriteIntern(&e, name, size, percentage, done);
  });
}

ZONELIB_API int32_t pipExportInsert(uint32_t exporter, const char* name,
                                    const pipObjectInfoStruct* info, const int32_t* coords,
                                    const int32_t* partCounts, int32_t partCount) {
  return WithHandle<CzonExporter>(exporter, [&](CzonExporter& e) {
    return pipExportInsertIntern(&e, name, info, coords, partCounts, partCount);
  });
}

ZONELIB_API int32_t pipExportClose(uint32_t exporter) {
  return WithHandle<CzonExporter>(exporter,
                                  [&](CzonExporter& e) { return pipExportCloseIntern(&e); });
}

ZONELIB_API int32_t pipExportTerm(uint32_t exporter, int32_t keep) {
  return DestroyHandle<CzonExporter>(
      exporter, [keep](CzonExporter* e) { return pipExportTermIntern(e, keep); });
}
