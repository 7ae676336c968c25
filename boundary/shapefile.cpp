#include "boundary/shapefile.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "boundary/shapestream.h"

namespace {

constexpr size_t kRecordHeaderSize = 8;
constexpr size_t kPointContent = 20;     // type, x, y
constexpr size_t kMultiPointFixed = 40;  // type, box, count
constexpr size_t kPolyFixed = 44;        // type, box, part count, point count
constexpr size_t kPointSize = 16;
constexpr double kEmptyBoxLow = 1e30;
constexpr double kEmptyBoxHigh = -1e30;
// File lengths are signed 32-bit counts of 16-bit words.
constexpr uint64_t kWordsMax = uint64_t(std::numeric_limits<int32_t>::max());

std::string RecordText(const ShapeHandle& handle) {
  return handle.main->Path() + " record " + std::to_string(handle.nextRecord);
}

// Grows a malloc'd buffer to hold count items of size bytes; the old buffer
// stays when it cannot. False when the size passes what capacity can count.
template <class T, class Capacity>
bool Reserve(T*& buffer, Capacity& capacity, uint64_t count) {
  if (count <= uint64_t(capacity) && buffer) return true;
  if (count > uint64_t(std::numeric_limits<Capacity>::max()) ||
      count > std::numeric_limits<size_t>::max() / sizeof(T))
    return false;
  void* grown = std::realloc(buffer, size_t(count ? count : 1) * sizeof(T));
  if (!grown) return false;
  buffer = static_cast<T*>(grown);
  capacity = Capacity(count);
  return true;
}

// The buffers of a handle, its points in pairs of doubles.
bool ReservePoints(ShapeHandle& handle, uint64_t points) {
  double* buffer = handle.points;
  uint64_t doubles = uint64_t(handle.pointCapacity) * 2;
  if (points > uint64_t(std::numeric_limits<int32_t>::max()) ||
      !Reserve(buffer, doubles, points * 2))
    return false;
  handle.points = buffer;
  handle.pointCapacity = int32_t(doubles / 2);
  return true;
}

void IncludeInBox(double box[4], double x, double y) {
  if (x < box[0]) box[0] = x;
  if (y < box[1]) box[1] = y;
  if (x > box[2]) box[2] = x;
  if (y > box[3]) box[3] = y;
}

void ReadBox(const unsigned char* p, double box[4]) {
  for (int i = 0; i < 4; ++i) box[i] = QLoadF64LE(p + 8 * i);
}

void WriteHeader(unsigned char header[kShapeHeaderSize], const ShapeHandle& handle,
                 uint32_t lengthWords) {
  std::memset(header, 0, kShapeHeaderSize);
  QStoreU32BE(header, kShapeFileCode);
  QStoreU32BE(header + 24, lengthWords);
  QStoreU32LE(header + 28, kShapeVersion);
  QStoreU32LE(header + 32, handle.shapeType);
  for (int i = 0; i < 4; ++i) QStoreF64LE(header + 36 + 8 * i, handle.box[i]);
}

int DecodePoly(ShapeHandle& handle, const unsigned char* content, uint64_t length) {
  if (length < kPolyFixed)
    return ShapeFail("ShapeRead", RecordText(handle) + ": content of " + std::to_string(length) +
                                      " bytes is too short for its parts");
  uint32_t parts = QLoadU32LE(content + 36);
  uint32_t points = QLoadU32LE(content + 40);
  uint64_t need = kPolyFixed + 4 * uint64_t(parts) + kPointSize * uint64_t(points);
  if (need > length)
    return ShapeFail("ShapeRead", RecordText(handle) + ": " + std::to_string(parts) +
                                      " parts and " + std::to_string(points) + " points need " +
                                      std::to_string(need) + " bytes, the content has " +
                                      std::to_string(length));
  const unsigned char* starts = content + kPolyFixed;
  uint32_t previous = 0;
  for (uint32_t i = 0; i < parts; ++i) {
    uint32_t start = QLoadU32LE(starts + 4 * i);
    if (start < previous || start > points)
      return ShapeFail("ShapeRead", RecordText(handle) + ": part " + std::to_string(i) +
                                        " starts at point " + std::to_string(int32_t(start)) +
                                        " of " + std::to_string(points));
    previous = start;
  }
  // The final start closes the last part.
  if (!Reserve(handle.starts, handle.startCapacity, uint64_t(parts) + 1) ||
      !Reserve(handle.parts, handle.partCapacity, parts) || !ReservePoints(handle, points))
    return ShapeFail("ShapeRead",
                     RecordText(handle) + ": no memory for " + std::to_string(points) + " points");
  ReadBox(content + 4, handle.box);
  for (uint32_t i = 0; i < parts; ++i) handle.starts[i] = int32_t(QLoadU32LE(starts + 4 * i));
  handle.starts[parts] = int32_t(points);
  handle.startCount = int32_t(parts) + 1;
  const unsigned char* p = starts + 4 * uint64_t(parts);
  for (uint64_t i = 0; i < 2 * uint64_t(points); ++i) handle.points[i] = QLoadF64LE(p + 8 * i);
  for (uint32_t i = 0; i < parts; ++i) {
    handle.parts[i].count = uint32_t(handle.starts[i + 1] - handle.starts[i]);
    handle.parts[i].points = handle.points + 2 * size_t(handle.starts[i]);
  }
  handle.partCount = parts;
  return 0;
}

int DecodeMultiPoint(ShapeHandle& handle, const unsigned char* content, uint64_t length) {
  if (length < kMultiPointFixed)
    return ShapeFail("ShapeRead", RecordText(handle) + ": content of " + std::to_string(length) +
                                      " bytes is too short for a multipoint");
  uint32_t points = QLoadU32LE(content + 36);
  uint64_t need = kMultiPointFixed + kPointSize * uint64_t(points);
  if (need > length)
    return ShapeFail("ShapeRead", RecordText(handle) + ": " + std::to_string(points) +
                                      " points need " + std::to_string(need) +
                                      " bytes, the content has " + std::to_string(length));
  if (!ReservePoints(handle, points))
    return ShapeFail("ShapeRead",
                     RecordText(handle) + ": no memory for " + std::to_string(points) + " points");
  ReadBox(content + 4, handle.box);
  for (uint64_t i = 0; i < 2 * uint64_t(points); ++i)
    handle.points[i] = QLoadF64LE(content + kMultiPointFixed + 8 * i);
  handle.multiPointCount = points;
  handle.multiPoints = handle.points;
  return 0;
}

// Appends one record (index entry, record header, content) of length bytes
// from the staging buffer.
int WriteRecord(ShapeHandle& handle, uint64_t length) {
  uint64_t words = length / 2;
  if (uint64_t(handle.mainLength) + 4 + words > kWordsMax)
    return ShapeFail("ShapeWriteBlob", handle.main->Path() +
                                           ": the record would take the file past " +
                                           std::to_string(kWordsMax) + " words");
  unsigned char entry[kRecordHeaderSize];
  QStoreU32BE(entry, handle.mainLength);
  QStoreU32BE(entry + 4, uint32_t(words));
  if (!handle.index->Write(entry, sizeof entry))
    return ShapeFailErrno("IndexWriteBlob", handle.index->Path());
  handle.indexLength += 4;
  QStoreU32BE(entry, handle.nextRecord);
  if (!handle.main->Write(entry, sizeof entry))
    return ShapeFailErrno("ShapeWriteBlob", handle.main->Path());
  ++handle.nextRecord;
  handle.mainLength += 4;
  if (!handle.main->Write(handle.stage, size_t(length)))
    return ShapeFailErrno("ShapeWriteBlob", handle.main->Path());
  handle.mainLength += uint32_t(words);
  return 0;
}

bool ReserveStage(ShapeHandle& handle, uint64_t length) {
  return Reserve(handle.stage, handle.stageCapacity, length);
}

}  // namespace

int ShapeOpenIntern(ShapeHandle* handle, const char* base) {
  if (!handle || !base) return ShapeFail("shpOpen", "no handle or no path");
  std::string mainPath = std::string(base) + ".shp";
  handle->main = ShapeStream::Open(mainPath, ShapeStream::kRead);
  if (!handle->main) return ShapeFailErrno(mainPath.c_str());
  handle->writing = 0;
  handle->nextRecord = 1;
  if (!ReserveStage(*handle, 512) || !Reserve(handle->starts, handle->startCapacity, 64))
    return ShapeFailErrno("shpOpen::_MALLOC", mainPath);
  unsigned char header[kShapeHeaderSize];
  int64_t got = handle->main->Read(header, sizeof header);
  if (got < 0) return ShapeFailErrno("shpOpen::fread", mainPath);
  if (got < int64_t(sizeof header))
    return ShapeFail("shpOpen::fread", mainPath + ": header cut short");
  if (QLoadU32BE(header) != kShapeFileCode)
    return ShapeFail("shpOpen", mainPath + ": not a shapefile (file code " +
                                    std::to_string(QLoadU32BE(header)) + ")");
  handle->shapeType = QLoadU32LE(header + 32);
  ReadBox(header + 36, handle->box);
  std::memcpy(handle->headerBox, handle->box, sizeof handle->box);
  if (!ReservePoints(*handle, 1024)) return ShapeFailErrno("shpOpen::_MALLOC", mainPath);

  std::string indexPath = std::string(base) + ".shx";
  handle->index = ShapeStream::Open(indexPath, ShapeStream::kRead);
  if (!handle->index) return ShapeFailErrno(indexPath.c_str());
  got = handle->index->Read(header, sizeof header);
  if (got < 0) return ShapeFailErrno("shxOpen::fread", indexPath);
  if (got < int64_t(sizeof header))
    return ShapeFail("shxOpen::fread", indexPath + ": header cut short");
  uint32_t words = QLoadU32BE(header + 24);
  handle->recordCount = words > kShapeHeaderWords ? (words - kShapeHeaderWords) / 4 : 0;
  return 0;
}

int ShapeReadIntern(ShapeHandle* handle) {
  if (!handle || !handle->main || handle->writing)
    return ShapeFail("ShapeRead", "the shapefile is not open for reading");
  ShapeStream& main = *handle->main;
  unsigned char recordHeader[kRecordHeaderSize];
  int64_t got = main.Read(recordHeader, sizeof recordHeader);
  if (got < 0) return ShapeFailErrno("ShapeRead", main.Path());
  if (got == 0) return 1;
  if (got < int64_t(sizeof recordHeader))
    return ShapeFail("ShapeRead", RecordText(*handle) + ": record header cut short");
  uint64_t length = 2 * uint64_t(QLoadU32BE(recordHeader + 4));
  // Checked before anything is allocated for it: a damaged length must not
  // ask for gigabytes.
  if (int64_t(length) > main.Size() - main.Position())
    return ShapeFail("ShapeRead", RecordText(*handle) + ": content of " + std::to_string(length) +
                                      " bytes runs past the end of the file");
  if (!ReserveStage(*handle, length))
    return ShapeFail("ShapeRead", RecordText(*handle) + ": no memory for its content");
  got = main.Read(handle->stage, size_t(length));
  if (got < 0) return ShapeFailErrno("ShapeRead", main.Path());
  if (uint64_t(got) < length)
    return ShapeFail("ShapeRead", RecordText(*handle) + ": content cut short");
  handle->stageUsed = length;
  if (length < 4) return ShapeFail("ShapeRead", RecordText(*handle) + ": no shape type");

  const unsigned char* content = handle->stage;
  uint32_t type = QLoadU32LE(content);
  int result = 0;
  switch (type) {
    case SHAPE_POINT: {
      if (length < kPointContent)
        return ShapeFail("ShapeRead", RecordText(*handle) + ": content of " +
                                          std::to_string(length) +
                                          " bytes is too short for a point");
      double x = QLoadF64LE(content + 4);
      double y = QLoadF64LE(content + 12);
      handle->points[0] = x;
      handle->points[1] = y;
      handle->box[0] = handle->box[2] = x;
      handle->box[1] = handle->box[3] = y;
      break;
    }
    case SHAPE_POLYLINE:
    case SHAPE_POLYGON:
      result = DecodePoly(*handle, content, length);
      break;
    case SHAPE_MULTIPOINT:
      result = DecodeMultiPoint(*handle, content, length);
      break;
    default:
      // Null shapes and the types with Z or M values are passed over.
      break;
  }
  ++handle->nextRecord;
  if (result != 0) return result;
  handle->shapeType = type;
  return 0;
}

int ShapeCreateIntern(ShapeHandle* handle, const char* base) {
  if (!handle || !base) return ShapeFail("ShapeCreate", "no handle or no path");
  std::string mainPath = std::string(base) + ".shp";
  std::string indexPath = std::string(base) + ".shx";
  handle->main = ShapeStream::Open(mainPath, ShapeStream::kWrite);
  if (!handle->main) return ShapeFailErrno(mainPath.c_str());
  handle->index = ShapeStream::Open(indexPath, ShapeStream::kWrite);
  if (!handle->index) return ShapeFailErrno(indexPath.c_str());
  if (!ReserveStage(*handle, 1024) || !Reserve(handle->starts, handle->startCapacity, 128))
    return ShapeFailErrno("ShapeCreate::_MALLOC", mainPath);
  handle->writing = 1;
  handle->nextRecord = 1;
  handle->mainLength = kShapeHeaderWords;
  handle->indexLength = kShapeHeaderWords;
  handle->box[0] = handle->box[1] = kEmptyBoxLow;
  handle->box[2] = handle->box[3] = kEmptyBoxHigh;
  handle->shapeType = SHAPE_NULL;
  unsigned char header[kShapeHeaderSize];
  WriteHeader(header, *handle, handle->mainLength);
  if (!handle->main->Write(header, sizeof header))
    return ShapeFailErrno("ShapeCreate::fwrite (shp)", mainPath);
  if (!handle->index->Write(header, sizeof header))
    return ShapeFailErrno("ShapeCreate::fwrite (shx)", indexPath);
  return 0;
}

int ShapeWritePointIntern(ShapeHandle* handle, const double* xy) {
  if (!handle || !handle->main || !handle->index || !handle->writing)
    return ShapeFail("ShapeWritePoint", "the shapefile is not open for writing");
  if (!xy) return ShapeFail("ShapeWritePoint", "no point given");
  handle->shapeType = SHAPE_POINT;
  if (!ReserveStage(*handle, kPointContent))
    return ShapeFail("BlobMalloc", "no memory for a record");
  QStoreU32LE(handle->stage, SHAPE_POINT);
  QStoreF64LE(handle->stage + 4, xy[0]);
  QStoreF64LE(handle->stage + 12, xy[1]);
  handle->stageUsed = kPointContent;
  IncludeInBox(handle->box, xy[0], xy[1]);
  return WriteRecord(*handle, kPointContent);
}

int ShapeWritePolyIntern(ShapeHandle* handle, const ShapePartList* list, int shapeType) {
  if (!handle || !handle->main || !handle->index || !handle->writing)
    return ShapeFail("ShapeWritePoly", "the shapefile is not open for writing");
  handle->shapeType = uint32_t(shapeType);
  if (shapeType != SHAPE_POLYLINE && shapeType != SHAPE_POLYGON)
    return ShapeFail("ShapeWritePoly", "shape type " + std::to_string(shapeType) +
                                           " is neither a polyline nor a polygon");
  uint32_t parts = list ? list->count : 0;
  const ShapePart* part = list ? list->parts : nullptr;
  if (parts > 0 && !part) return ShapeFail("ShapeWritePoly", "no parts given");
  uint64_t points = 0;
  for (uint32_t i = 0; i < parts; ++i) {
    ShapePart p = part[i];
    if (p.count > 0 && !p.points)
      return ShapeFail("ShapeWritePoly", "part " + std::to_string(i) + " has no points");
    points += p.count;
  }
  uint64_t length = kPolyFixed + 4 * uint64_t(parts) + kPointSize * points;
  if (length / 2 > kWordsMax)
    return ShapeFail("ShapeWriteBlob", handle->main->Path() + ": a record of " +
                                           std::to_string(points) + " points is too large");
  if (!ReserveStage(*handle, length))
    return ShapeFail("BlobMalloc",
                     "no memory for a record of " + std::to_string(length) + " bytes");

  unsigned char* content = handle->stage;
  double box[4] = {kEmptyBoxLow, kEmptyBoxLow, kEmptyBoxHigh, kEmptyBoxHigh};
  QStoreU32LE(content, uint32_t(shapeType));
  QStoreU32LE(content + 36, parts);
  QStoreU32LE(content + 40, uint32_t(points));
  unsigned char* starts = content + kPolyFixed;
  unsigned char* out = starts + 4 * uint64_t(parts);
  uint32_t start = 0;
  for (uint32_t i = 0; i < parts; ++i) {
    ShapePart p = part[i];
    QStoreU32LE(starts + 4 * i, start);
    start += p.count;
    for (uint32_t k = 0; k < p.count; ++k, out += kPointSize) {
      double x = p.points[2 * k];
      double y = p.points[2 * k + 1];
      QStoreF64LE(out, x);
      QStoreF64LE(out + 8, y);
      IncludeInBox(box, x, y);
    }
  }
  // A record without points keeps a zero box and leaves the file's alone.
  if (points == 0) std::fill(box, box + 4, 0.0);
  for (int i = 0; i < 4; ++i) QStoreF64LE(content + 4 + 8 * i, box[i]);
  if (points > 0) {
    IncludeInBox(handle->box, box[0], box[1]);
    IncludeInBox(handle->box, box[2], box[3]);
  }
  handle->stageUsed = length;
  return WriteRecord(*handle, length);
}

int ShapeCloseIntern(ShapeHandle* handle) {
  if (!handle) return -1;
  int result = 0;
  if (handle->writing && handle->main && handle->index) {
    unsigned char header[kShapeHeaderSize];
    WriteHeader(header, *handle, handle->mainLength);
    if (!handle->main->WriteAt(0, header, sizeof header))
      result = ShapeFailErrno("Reset Shape Main Hdr", handle->main->Path());
    QStoreU32BE(header + 24, handle->indexLength);
    if (!handle->index->WriteAt(0, header, sizeof header) && result == 0)
      result = ShapeFailErrno("Reset Indx Main Hdr", handle->index->Path());
  }
  for (ShapeStream** stream : {&handle->main, &handle->index}) {
    std::string name = *stream ? (*stream)->Path() : std::string();
    if (!ShapeStream::Close(*stream) && result == 0) result = ShapeFailErrno("ShapeClose", name);
  }
  std::free(handle->stage);
  std::free(handle->starts);
  std::free(handle->points);
  std::free(handle->parts);
  handle->stage = nullptr;
  handle->starts = nullptr;
  handle->points = nullptr;
  handle->parts = nullptr;
  handle->multiPoints = nullptr;
  handle->stageCapacity = handle->stageUsed = 0;
  handle->startCapacity = handle->startCount = handle->pointCapacity = handle->partCapacity = 0;
  handle->partCount = handle->multiPointCount = 0;
  return result;
}

bool ShapeInDegrees(const double* xy, size_t pointCount) {
  for (size_t i = 0; i < pointCount; ++i) {
    double y = xy[2 * i + 1];
    if ((y > 0 && y < 1e6) || (y < 0 && y > -1e6)) return true;
  }
  return false;
}

bool ShapeToMillionths(const double* xy, size_t pointCount, bool degrees, int32_t* out) {
  for (size_t i = 0; i < 2 * pointCount; ++i) {
    double value = std::round(degrees ? xy[i] * 1e6 : xy[i]);
    // Also false for NaN, which fails both comparisons.
    if (!(value >= double(std::numeric_limits<int32_t>::min()) &&
          value <= double(std::numeric_limits<int32_t>::max())))
      return false;
    out[i] = int32_t(value);
  }
  return true;
}
