// The interchange text writer: the objects into a .pxf file, one data row
// each (name, second name) into its .pxd file. A line's parts become objects
// of their own, each with its own row. Names stand in double quotes, each
// double quote doubled; a name holding a line end is refused (100) before
// anything of its object is written.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "services/export.h"

namespace {

constexpr int kLineDelimiterMemory = 40;
constexpr int kLineWriteFailed = 50;

constexpr const char* kDelimiterMemoryText = "Could not allocate delimiter buffer.\n";

constexpr int32_t kDefaultVersion = 300;
constexpr const char* kDefaultDelimiter = ",";
constexpr size_t kExtensionLength = 4;

constexpr const char* kHeaderFormat =
    "Version %ld\n"
    "Delimiter \"%s\"\n"
    "Index 1\n"
    "Columns 2\n"
    "  Name  Char(128)\n"
    "  Name2 Char(128)\n"
    "Data\n\n";
constexpr const char* kXFormat = "%11.6f ";
constexpr const char* kYFormat = "%11.6f \n";
constexpr const char* kPenFormat = "    Pen (%ld,%ld,%ld)\n";

std::string Field(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

class CzonPXFExporter final : public CzonExporter {
 public:
  explicit CzonPXFExporter(pipContext& owner) : CzonExporter(owner) {}

  int32_t open(const char* path) override;
  int32_t openWithOptions(const char* path, int32_t version, const char* delimiter) override;
  int32_t close(int32_t) override {
    const bool pxf = pxf_.Close();
    const bool pxd = pxd_.Close();
    if (pxf && pxd) return 1;
    return ReportF(kExportObjectCode, kLineWriteFailed, kExportWriteFailedFormat,
                   (pxf ? pxd_ : pxf_).Path().c_str());
  }
  int32_t deleteOutputs() override {
    const bool pxf = pxf_.Remove();
    const bool pxd = pxd_.Remove();
    return pxf && pxd ? 1 : -1;
  }
  int32_t writePoint(const ExportObject& object) override;
  int32_t writeLine(const ExportObject& object) override;
  int32_t writeRegion(const ExportObject& object) override;

 private:
  int32_t Create(const std::string& pxf, const std::string& pxd, int32_t version,
                 const char* delimiter);
  // A line end would end a data row early: such a name is refused.
  bool NamesFit(const ExportObject& object) {
    return ExportNamesFit(*this, object, "\r\n", "a line end", "interchange text");
  }
  void Row(const pipObjectInfoStruct& info);
  void Point(const int32_t* xy) {
    pxf_.Printf(kXFormat, ExportDegrees(xy[0]));
    pxf_.Printf(kYFormat, ExportDegrees(xy[1]));
  }
  void Pen(const pipObjectInfoStruct& info) {
    pxf_.Printf(kPenFormat, long(info.styleB), long(info.styleA), long(info.recordNumber));
  }

  ExportTextFile pxf_;
  ExportTextFile pxd_;
  std::string delimiter_;
};

int32_t CzonPXFExporter::open(const char* path) {
  if (!path) return -1;
  std::string pxf(path), pxd(path);
  if ((std::strstr(path, ".PXF") || std::strstr(path, ".pxf")) &&
      pxf.size() >= kExtensionLength) {
    pxf.replace(pxf.size() - kExtensionLength, kExtensionLength, ".pxf");
    pxd.replace(pxd.size() - kExtensionLength, kExtensionLength, ".pxd");
  } else {
    pxf += ".pxf";
    pxd += ".pxd";
  }
  return Create(pxf, pxd, kDefaultVersion, kDefaultDelimiter);
}

int32_t CzonPXFExporter::openWithOptions(const char* path, int32_t version,
                                         const char* delimiter) {
  if (!path) return -1;
  return Create(std::string(path) + ".PXF", std::string(path) + ".PXD", version,
                delimiter ? delimiter : kDefaultDelimiter);
}

int32_t CzonPXFExporter::Create(const std::string& pxf, const std::string& pxd, int32_t version,
                                const char* delimiter) {
  if (!pxf_.Create(pxf)) return -1;
  if (!pxd_.Create(pxd)) {
    pxf_.Remove();
    return -1;
  }
  try {
    delimiter_ = delimiter;
  } catch (const std::bad_alloc&) {
    pxf_.Remove();
    pxd_.Remove();
    return Report(kExportMemoryCode, kDelimiterMemoryText, kLineDelimiterMemory);
  }
  pxf_.Printf(kHeaderFormat, long(version), delimiter_.c_str());
  return 1;
}

void CzonPXFExporter::Row(const pipObjectInfoStruct& info) {
  const std::string name = ExportQuoted(Field(info.name, sizeof info.name));
  const std::string name2 = ExportQuoted(Field(info.name2, sizeof info.name2));
  pxd_.Printf("%s%s%s\n", name.c_str(), delimiter_.c_str(), name2.c_str());
}

int32_t CzonPXFExporter::writePoint(const ExportObject& object) {
  const pipObjectInfoStruct& info = *object.info;
  if (info.kind != PIP_OBJECT_POINT) return -1;
  if (!NamesFit(object)) return -1;
  for (int32_t i = 0; i < object.partCount; ++i) {
    Row(info);
    pxf_.Write("POINT  ");
    Point(object.coords + 2 * size_t(i));
  }
  pxf_.Printf("    Symbol (%ld,%ld,%ld)\n", long(info.styleA), long(info.recordNumber),
              long(info.styleB));
  return 1;
}

int32_t CzonPXFExporter::writeLine(const ExportObject& object) {
  const pipObjectInfoStruct& info = *object.info;
  if (info.kind != PIP_OBJECT_LINE) return -1;
  if (!NamesFit(object)) return -1;
  const int32_t* xy = object.coords;
  for (int32_t part = 0; part < object.partCount; ++part) {
    const int32_t count = object.partCounts[part];
    Row(info);
    pxf_.Printf("PLINE   %ld\n", long(count));
    for (int32_t i = 0; i < count; ++i, xy += 2) Point(xy);
    Pen(info);
  }
  return 1;
}

int32_t CzonPXFExporter::writeRegion(const ExportObject& object) {
  const pipObjectInfoStruct& info = *object.info;
  if (info.kind != PIP_OBJECT_REGION) return -1;
  if (!NamesFit(object)) return -1;
  Row(info);
  pxf_.Printf("REGION  %ld\n", long(object.partCount));
  const int32_t* xy = object.coords;
  for (int32_t part = 0; part < object.partCount; ++part) {
    const int32_t count = object.partCounts[part];
    pxf_.Printf("%ld\n", long(count));
    for (int32_t i = 0; i < count; ++i, xy += 2) Point(xy);
  }
  Pen(info);
  pxf_.Printf("    Brush (%ld, %ld, %ld)\n", long(info.brushPattern), long(info.brushColour),
              long(info.brushBackground));
  pxf_.Write("    Center ");
  pxf_.Printf("%11.6f  %11.6f\n\n", ExportDegrees(info.x), ExportDegrees(info.y));
  return 1;
}

}  // namespace

std::unique_ptr<CzonExporter> MakePXFExporter(pipContext& owner) {
  return std::make_unique<CzonPXFExporter>(owner);
}
