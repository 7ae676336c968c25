#include "builder/importer.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/shapebuild.h"
#include "builder/tabbuild.h"
#include "builder/tablebuild.h"
#include "platform/env.h"
#include "tables/qtblfile.h"

namespace {

// The files a build reads: the input (for an Access table its database) and
// the files that go with it.
std::vector<std::string> InputFiles(const std::string& input) {
  const std::string_view database = AccessDatabasePart(input);
  std::vector<std::string> files = {database.empty() ? input : std::string(database)};
  const std::string kind = InputKind(input);
  std::vector<std::string_view> companions;
  if (kind == "SHP") companions = {"shx", "dbf"};
  if (kind == "PXF") companions = {"pxd"};
  if (kind == "CSV" || kind == "TXT") companions = {"fmt"};
  for (std::string_view extension : companions) files.push_back(CompanionPath(input, extension));
  return files;
}

}  // namespace

std::unique_ptr<ObjectBuilder> MakeBuilder(const char* input) {
  const std::string kind = InputKind(input ? input : "");
  try {
    if (kind == "SHP") return std::make_unique<ShapeBuilder>();
    if (kind == "PXF") return std::make_unique<PxfBuilder>();
    if (kind == "TAB") return std::make_unique<TabBuilder>();
    if (kind == "DBF" || kind == "CSV" || kind == "TXT" || kind == "MDB")
      return std::make_unique<LedgerkitBuilder>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  BuildPrint(kUnknownInputFormat, input ? input : "");
  return nullptr;
}

PipImporter::PipImporter() {
  library_ = uint32_t(pipInit(0, ""));
  params_.flags = PIP_IMPORT_SEGMENTS;
  SetDefaults();
}

PipImporter::~PipImporter() {
  if (import_ != 0) pipImportTerm(import_, 0);
  builder_.reset();
  if (library_ != 0) pipTerm(library_);
}

void PipImporter::SetDefaults() {
  params_.pointLimit = kImportPointLimit;
  params_.polygonLimit = kImportPolygonLimit;
  params_.coordinateKind = kImportCoordinateKind;
}

void PipImporter::RemoveOutputs() {
  platform::Env& env = platform::Env::Current();
  env.Remove(output_);
  env.Remove(AttributePathOf(output_));
}

bool PipImporter::Open(const char* input, const char* output, const char* idField) {
  builder_ = MakeBuilder(input);
  if (!builder_) return false;
  if (AttributePathOf(output) == output) {
    // The attribute file would be written over the boundary file.
    BuildPrint(kOutputNameFormat, output);
    return false;
  }
  for (const std::string& file : InputFiles(input)) {
    if (qtblfile::SameFile(file, output) || qtblfile::SameFile(file, AttributePathOf(output))) {
      BuildPrint(kOutputOverInputFormat, output);
      return false;
    }
  }
  SetDefaults();
  output_ = output;
  if (pipImportInitEx(library_, output, &params_, kImportExtensionKind, input, "", &import_) != 1) {
    import_ = 0;
    PrintEngineError(library_);
    return false;
  }
  builder_->SetIdField(idField);
  builder_->SetLibrary(library_);
  if (!builder_->Open(import_, input, output)) {
    // The engine made the file at init: discarding the import removes it.
    pipImportTerm(import_, 0);
    import_ = 0;
    RemoveOutputs();
    return false;
  }
  return true;
}

bool PipImporter::Run() {
  if (!builder_ || import_ == 0) return false;
  bool ok = false;
  try {
    // Build ends the import, whatever its outcome.
    const uint32_t import = import_;
    import_ = 0;
    ok = builder_->Build(library_, import) && builder_->AttributeTable() &&
         builder_->WriteAttributeFile(ReadCreationStamp(library_, output_.c_str()));
  } catch (const std::exception& e) {
    BuildPrint("Error: %s\n", e.what());
    ok = false;
  } catch (long code) {
    BuildPrint("Error: table library code %ld\n", code);
    ok = false;
  }
  if (!ok) RemoveOutputs();
  return ok;
}

std::string ReadCreationStamp(uint32_t library, const char* path) {
  uint32_t file = 0;
  if (pipObjectFileOpen(library, path, 0, &file) != 1) return std::string();
  pipObjectFileExtraInfoStruct extra{};
  std::string stamp;
  if (pipObjectHandleFileQueryEx(file, &extra) == 1)
    stamp.assign(extra.created, strnlen(extra.created, std::min(sizeof extra.created, kStampSize - 1)));
  pipObjectFileClose(file);
  return stamp;
}
