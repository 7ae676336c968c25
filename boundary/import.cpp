#include "boundary/import.h"

#include <memory>
#include <mutex>

#include "base/qerror.h"
#include "base/qstring.h"
#include "boundary/readbna.h"
#include "boundary/readpxf.h"
#include "boundary/readshp.h"
#include "boundary/readtab.h"

namespace {

constexpr const char* kSource = "pipmain";
constexpr const char* kOutOfRangeFormat =
    "Parameter out of range.  PointLimit = %ld, PolygonLimit = %ld.";
constexpr const char* kNoParametersText = "No import parameter block.";
constexpr const char* kNegativePartsText = "The part count is negative.";
constexpr const char* kEmptyPartFormat = "Part %ld of %ld has no points.";

std::mutex g_limitsLock;
ImportLimits g_limits = {0, 0};

// To the nearest multiple of 100, halves away from zero.
int32_t TaxRound(int32_t v) {
  int64_t magnitude = v < 0 ? -int64_t(v) : int64_t(v);
  magnitude = (magnitude + 50) / 100 * 100;
  return int32_t(v < 0 ? -magnitude : magnitude);
}

// Puts the reader make() builds on the builder once it is Ok.
template <class Make>
int32_t OpenReader(BoundaryBuilder* builder, Make make) {
  if (!builder) return -1;
  builder->SetReader(nullptr);  // before the new one is made
  std::unique_ptr<ImportRead> reader = make(*builder);
  if (!reader->Ok()) return -1;
  builder->SetReader(std::move(reader));
  return 1;
}

}  // namespace

ImportLimits pipImportLimits() {
  std::lock_guard<std::mutex> hold(g_limitsLock);
  return g_limits;
}

int32_t pipImportInitIntern(pipContext* context, const char* path,
                            const pipImportParamStruct* params, BoundaryBuilder** out) {
  if (!context || !out) return -1;
  if (!params) {
    context->Report(Q_ERROR_INVALID_DATA, kNoParametersText, kSource, __LINE__);
    return -1;
  }
  const int32_t pointLimit = params->pointLimit;
  const int32_t polygonLimit = params->polygonLimit;
  if (pointLimit <= 0 || pointLimit > kImportPointLimitMax || polygonLimit <= 0 ||
      polygonLimit > kImportPolygonLimitMax) {
    char detail[128];
    StrFormat(detail, sizeof detail, kOutOfRangeFormat, long(kImportPointLimitMax),
              long(kImportPolygonLimitMax));
    context->Report(Q_ERROR_INVALID_DATA, detail, kSource, __LINE__);
    return -1;
  }
  {
    std::lock_guard<std::mutex> hold(g_limitsLock);
    g_limits = {pointLimit, polygonLimit};
  }
  auto builder =
      std::make_unique<BoundaryBuilder>(context->ErrorRef(), path, uint16_t(params->flags),
                                        uint16_t(params->coordinateKind), pointLimit, polygonLimit);
  if (!builder->Ok()) return -1;  // destroyed here, which deletes its file
  builder->SetHeaderText(params->headerText);
  *out = builder.release();
  return 1;
}

int32_t pipImportInitExIntern(pipContext* context, const char* path,
                              const pipImportParamStruct* params, uint16_t kind, const char* name,
                              const char* text, BoundaryBuilder** out) {
  int32_t result = pipImportInitIntern(context, path, params, out);
  if (result == 1) (*out)->FillExtension(kind, name, text);
  return result;
}

int32_t pipImportTXBInitIntern(pipContext* context, const char* path, pipImportParamStruct* params,
                               BoundaryBuilder** out) {
  if (params) {
    if (params->headerText[0] == '\0')
      StrFormat(params->headerText, sizeof params->headerText, "%s", kTaxHeaderText);
    params->flags |= PIP_IMPORT_TAX;
  }
  return pipImportInitIntern(context, path, params, out);
}

int32_t pipImportInsertIntern(BoundaryBuilder* builder, pipObjectInfoStruct* object,
                              const int32_t* coordinates, const uint32_t* partCounts,
                              int32_t partCount) {
  if (!builder || !object) return -1;
  // An object a reader still holds is stored before this one is built.
  if (ImportRead* reader = builder->Reader()) reader->StorePending();
  const uint32_t number = builder->NextInsertNumber();
  object->recordNumber = number;

  if (object->kind == PIP_OBJECT_REGION || object->kind == PIP_OBJECT_LINE) {
    // Either would be stored as an object without points (or lose a ring
    // silently), which no search can find.
    if (partCount < 0) {
      builder->Error().Report(Q_ERROR_INVALID_DATA, kNegativePartsText, kSource, __LINE__);
      return -1;
    }
    if (partCounts && partCount <= builder->PolygonLimit()) {
      for (int32_t i = 0; i < partCount; ++i) {
        if (partCounts[i] != 0) continue;
        char detail[96];
        StrFormat(detail, sizeof detail, kEmptyPartFormat, long(i + 1), long(partCount));
        builder->Error().Report(Q_ERROR_INVALID_DATA, detail, kSource, __LINE__);
        return -1;
      }
    }
  }

  const int32_t* xy = coordinates;
  if (builder->IsTax()) {
    if (object->kind == PIP_OBJECT_POINT) {
      object->x = TaxRound(object->x);
      object->y = TaxRound(object->y);
    } else if (coordinates && partCounts && partCount > 0 && partCount <= builder->PolygonLimit()) {
      // Rounded into a working copy; the caller's coordinates stay as given.
      // Counts past the limit are refused by the builder before any copy.
      uint64_t total = 0;
      for (int32_t i = 0; i < partCount; ++i) total += partCounts[i];
      if (total <= uint64_t(builder->PointLimit())) {
        int32_t* working = builder->Working(size_t(2 * total));
        for (size_t i = 0; i < 2 * total; ++i) working[i] = TaxRound(coordinates[i]);
        xy = working;
      }
    }
  }
  return builder->InsertByKind(*object, xy, partCounts, partCount, number);
}

int32_t pipImportTermIntern(BoundaryBuilder* builder, int32_t keep) {
  std::unique_ptr<BoundaryBuilder> owned(builder);
  if (!builder) return -1;
  if (keep == 0) return 1;
  builder->SetReader(nullptr);  // with the object it may still hold
  if (!builder->Finish()) return -1;
  return 1;
}

int32_t pipImportOpenBNAIntern(BoundaryBuilder* builder, const char* path, int32_t namePosition) {
  return OpenReader(builder, [&](BoundaryBuilder& b) {
    return std::make_unique<BNARead>(b, path, namePosition);
  });
}

int32_t pipImportOpenPXF2Intern(BoundaryBuilder* builder, const char* path, const char* nameField,
                                const char* nameField2) {
  return OpenReader(builder, [&](BoundaryBuilder& b) {
    return std::make_unique<PXFRead>(b, path, nameField, nameField2);
  });
}

int32_t pipImportOpenShapeIntern(BoundaryBuilder* builder, const char* path, const char* idField,
                                 const char* secondField) {
  // Only an extension of the file name goes: a folder may have a dot.
  std::string base = path ? path : "";
  if (const char* dot = FileExtension(base.c_str())) base.resize(size_t(dot - base.c_str()));
  return OpenReader(builder, [&](BoundaryBuilder& b) {
    return std::make_unique<SHPRead>(b, base.c_str(), idField, secondField);
  });
}

int32_t pipImportOpenTABIntern(BoundaryBuilder* builder, const char* path, const char* idField,
                               const char* secondField) {
  return OpenReader(builder, [&](BoundaryBuilder& b) {
    return std::make_unique<TABRead>(b, path, idField, secondField);
  });
}

int32_t pipImportReadIntern(BoundaryBuilder* builder, char* name, int32_t size, uint32_t* percent,
                            uint32_t* count) {
  if (name && size > 0) name[0] = '\0';
  ImportRead* reader = builder ? builder->Reader() : nullptr;
  if (!reader || !reader->Read()) return -1;
  if (name && size > 0) StrCopySized(name, reader->Name(), size_t(size));
  if (percent) *percent = reader->Progress();
  if (count) *count = reader->Count();
  return reader->Status();
}

int32_t pipImportCloseIntern(BoundaryBuilder* builder) {
  if (!builder) return -1;
  builder->SetReader(nullptr);
  return 1;
}
