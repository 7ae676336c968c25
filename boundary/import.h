// The import family of the C interface: the bodies of pipImportInit,
// pipImportInitEx, pipImportTXBInit, pipImportInsert and pipImportTerm, which
// build one boundary file through one BoundaryBuilder (boundary/build.h).
// They take the context or the builder in place of a handle and return what
// the exported call returns; services that build boundary files of their own
// call them directly.
//
// Contracts on the border cases:
//   - PointLimit must be 1 to 55,000,000 and PolygonLimit 1 to 16,383; other
//     values give code 106 "Parameter out of range.  PointLimit = 55000000,
//     PolygonLimit = 16383." and -1.
//   - The limits are process-wide, those of the last successful init; each
//     builder keeps the values it was made with and checks its objects
//     against them, so imports with different limits do not disturb each
//     other.
//   - Every insert takes the next record number (1, 2, ...) and writes it to
//     the caller's record before anything can fail.
//   - Term with keep = 0 deletes the file; the builder is destroyed in both
//     cases.
#pragma once

#include <cstdint>

#include "boundary/build.h"
#include "boundary/mainintn.h"
#include "zonelib.h"

inline constexpr int32_t kImportPointLimitMax = 55000000;
inline constexpr int32_t kImportPolygonLimitMax = 16383;
inline constexpr const char* kTaxHeaderText = "Velmore Software, Inc.\r\nTax Boundary File";

struct ImportLimits {
  int32_t pointLimit;
  int32_t polygonLimit;
};
// The process-wide limits: 0 until the first successful init.
ImportLimits pipImportLimits();

int32_t pipImportInitIntern(pipContext* context, const char* path,
                            const pipImportParamStruct* params, BoundaryBuilder** out);
int32_t pipImportInitExIntern(pipContext* context, const char* path,
                              const pipImportParamStruct* params, uint16_t kind, const char* name,
                              const char* text, BoundaryBuilder** out);
int32_t pipImportTXBInitIntern(pipContext* context, const char* path, pipImportParamStruct* params,
                               BoundaryBuilder** out);
int32_t pipImportInsertIntern(BoundaryBuilder* builder, pipObjectInfoStruct* object,
                              const int32_t* coordinates, const uint32_t* partCounts,
                              int32_t partCount);
int32_t pipImportTermIntern(BoundaryBuilder* builder, int32_t keep);

template <>
struct HandleKind<BoundaryBuilder> {
  static constexpr uint32_t kType = kHandleImport;
  // An import that never got its handle: its file is discarded.
  static void Discard(BoundaryBuilder* builder) { pipImportTermIntern(builder, 0); }
};
