// PipImporter: one run of gsbbuild. It holds a library context of the
// boundary engine, chooses the builder by the input's last extension, starts
// the import of the boundary file, lets the builder feed the objects and make
// the temporary attribute table, reads the finished boundary file's creation
// stamp and has the attribute file written.
//
// Both files are built under fresh names in the output's folder
// ("<stem>.gsbbuild-<unique>.tmpb" and its attribute file ".tmpa") and
// renamed to the output paths only when the whole build has succeeded, so a
// reader never sees a torn file and a failed run leaves the files of an
// earlier run as they were. Builds of one output are serialised by a lock on
// the output path (platform::PathLock, the file "<output>.lock" while it is
// held): two runs into one output leave the whole pair of one of them.
//
// Contracts on the border cases:
//   - Open fails (false) for an input kind no builder takes (with the
//     "not recognized" line), an output (or attribute file) that is the
//     input or a file read with it, or a folder, an output whose lock
//     cannot be taken, an import the engine refuses, or a builder that
//     cannot open its input; nothing at the output paths is touched.
//   - Run fails (false) when any step fails, also when the finished files
//     cannot be renamed into place; the files at the output paths are then
//     those of before (the rename of the attribute file goes first, so only
//     a failed second rename could part a pair, and the reader refuses a
//     pair whose stamps differ).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "builder/objbuild.h"
#include "platform/env.h"
#include "zonelib.h"

inline constexpr const char* kUnknownInputFormat =
    "Error: Input file type (%s) not recognized! Process halting.\n";
inline constexpr const char* kOutputNameFormat =
    "Error: The output file (%s) must not end in the letter a: that name is its attribute "
    "file's.\n";
inline constexpr const char* kOutputOverInputFormat =
    "Error: The output file (%s) would overwrite the input or a file that goes with it.\n";
inline constexpr const char* kOutputIsFolderFormat =
    "Error: The output file (%s) or its attribute file is a folder.\n";
inline constexpr const char* kOutputLockFormat =
    "Error: Unable to lock the output file (%s): %s.\n";
inline constexpr const char* kBuildingNameFormat =
    "Error: Unable to make a file in the output folder (%s): %s.\n";
inline constexpr const char* kOutputRenameFormat =
    "Error: Unable to put the finished file in place as %s: %s.\n";
// The fresh names of the files being built: "<stem>" + marker + unique part.
inline constexpr const char* kBuildingMarker = ".gsbbuild-";
inline constexpr const char* kBuildingSuffix = ".tmpb";
// Import parameters of gsbbuild.
inline constexpr int32_t kImportPointLimit = 5000000;
inline constexpr int32_t kImportPolygonLimit = 15000;
inline constexpr uint32_t kImportCoordinateKind = 1;
inline constexpr uint16_t kImportExtensionKind = 74;
inline constexpr size_t kStampSize = 35;

// The builder for an input by its last extension (SHP, PXF, TAB, DBF, CSV,
// TXT, MDB); null for any other.
std::unique_ptr<ObjectBuilder> MakeBuilder(const char* input);

// The creation-time text of the boundary file at path (at most kStampSize - 1
// characters), read back through the engine; empty when the file does not
// open or has no extension record.
std::string ReadCreationStamp(uint32_t library, const char* path);

class PipImporter {
 public:
  PipImporter();
  virtual ~PipImporter();
  PipImporter(const PipImporter&) = delete;
  PipImporter& operator=(const PipImporter&) = delete;

  // "/u": objects without the segment records of a buffered build.
  void SetUnbuffered() { params_.flags = 0; }
  bool Open(const char* input, const char* output, const char* idField);
  bool Run();

  const pipImportParamStruct& Params() const { return params_; }

 private:
  void SetDefaults();
  // Removes the files being built (not those at the output paths).
  void RemoveBuilding();
  // Renames the finished pair to the output paths.
  bool Commit();

  uint32_t library_ = 0;
  uint32_t import_ = 0;
  std::unique_ptr<ObjectBuilder> builder_;
  std::string output_;
  std::string building_;  // the boundary file while it is built
  platform::PathLock lock_;
  pipImportParamStruct params_{};
};
