// PipImporter: one run of gsbbuild. It holds a library context of the
// boundary engine, chooses the builder by the input's last extension, starts
// the import of the boundary file, lets the builder feed the objects and make
// the temporary attribute table, reads the finished boundary file's creation
// stamp and has the attribute file written.
//
// Contracts on the border cases:
//   - Open fails (false) for an input kind no builder takes (with the
//     "not recognized" line), an output (or attribute file) that is the
//     input or a file read with it (the engine would empty it before it is
//     read), an import the engine refuses, or a builder
//     that cannot open its input; the import is then ended without keeping
//     the file, so nothing is left at the output path.
//   - Run fails (false) when any step fails; the boundary file and its
//     attribute file are removed then.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "builder/objbuild.h"
#include "zonelib.h"

inline constexpr const char* kUnknownInputFormat =
    "Error: Input file type (%s) not recognized! Process halting.\n";
inline constexpr const char* kOutputNameFormat =
    "Error: The output file (%s) must not end in the letter a: that name is its attribute "
    "file's.\n";
inline constexpr const char* kOutputOverInputFormat =
    "Error: The output file (%s) would overwrite the input or a file that goes with it.\n";
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
  void RemoveOutputs();

  uint32_t library_ = 0;
  uint32_t import_ = 0;
  std::unique_ptr<ObjectBuilder> builder_;
  std::string output_;
  pipImportParamStruct params_{};
};
