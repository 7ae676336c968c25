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
//   - An import holds at most one input reader (boundary/importread.h): an
//     open destroys the reader before it, and a failed open leaves none.
//     Close, another open and term with keep store the object a reader still
//     holds (one it has reported as read) before the reader goes.
//     Objects read and objects inserted go into the same file; an insert
//     first stores the object a reader still holds, so the two never share
//     the builder's arrays.
//   - The shapefile opens take the path without its extension, cutting only
//     an extension of the file name (a folder named v1.2 stays whole).
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

// Opens an input reader on the import: 1, or -1 when the input cannot be
// read (the reason is reported to the import's error object).
int32_t pipImportOpenBNAIntern(BoundaryBuilder* builder, const char* path, int32_t namePosition);
int32_t pipImportOpenPXF2Intern(BoundaryBuilder* builder, const char* path, const char* nameField,
                                const char* nameField2);
int32_t pipImportOpenShapeIntern(BoundaryBuilder* builder, const char* path, const char* idField,
                                 const char* secondField);
int32_t pipImportOpenTABIntern(BoundaryBuilder* builder, const char* path, const char* idField,
                               const char* secondField);
// Reads and stores the next input object: 1 stored, 2 skipped, 0 end of
// input, -1 failure or no open input. name gets the object's name (at most
// size - 1 characters; emptied first), percent the reader's progress and
// count its running count (either may be null).
int32_t pipImportReadIntern(BoundaryBuilder* builder, char* name, int32_t size, uint32_t* percent,
                            uint32_t* count);
// Destroys the open reader, if any; 1.
int32_t pipImportCloseIntern(BoundaryBuilder* builder);

template <>
struct HandleKind<BoundaryBuilder> {
  static constexpr uint32_t kType = kHandleImport;
  // An import that never got its handle: its file is discarded.
  static void Discard(BoundaryBuilder* builder) { pipImportTermIntern(builder, 0); }
};
