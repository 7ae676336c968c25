#include "builder/importer.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <exception>
#include <utility>
#include <string_view>
#include <vector>

#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/shapebuild.h"
#include "builder/tabbuild.h"
#include "builder/tablebuild.h"
#include "platform/env.h"

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
  if (kind == "TAB") {
    // A table's data, map, object index and field index files share its
    // stem; ".ID" is shorter than the definition's extension, so the stem
    // is taken whole (the lookup ignores letter case).
    const std::string stem = input.substr(0, input.size() - 4);
    for (const char* extension : {".dat", ".map", ".id", ".ind", ".dbf"})
      files.push_back(stem + extension);
  }
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
  RemoveBuilding();
  if (library_ != 0) pipTerm(library_);
  lock_.Release();
}

void PipImporter::SetDefaults() {
  params_.pointLimit = kImportPointLimit;
  params_.polygonLimit = kImportPolygonLimit;
  params_.coordinateKind = kImportCoordinateKind;
}

void PipImporter::RemoveBuilding() {
  if (building_.empty()) return;
  platform::Env& env = platform::Env::Current();
  env.Remove(building_);
  env.Remove(AttributePathOf(building_));
  building_.clear();
}

bool PipImporter::Commit() {
  platform::Env& env = platform::Env::Current();
  // An existing output spelt in another letter case is replaced, as a
  // file written in place would be.
  const std::pair<std::string, std::string> moves[] = {
      {AttributePathOf(building_), env.ResolveExisting(AttributePathOf(output_))},
      {building_, env.ResolveExisting(output_)},
  };
  for (const auto& [from, to] : moves) {
    if (env.Rename(from, to) != 0) {
      BuildPrint(kOutputRenameFormat, to.c_str(), platform::ErrnoText(errno).c_str());
      return false;
    }
  }
  building_.clear();
  return true;
}

bool PipImporter::Open(const char* input, const char* output, const char* idField) {
  builder_ = MakeBuilder(input);
  if (!builder_) return false;
  if (AttributePathOf(output) == output) {
    // The attribute file would be written over the boundary file.
    BuildPrint(kOutputNameFormat, output);
    return false;
  }
  platform::Env& env = platform::Env::Current();
  for (const std::string& file : InputFiles(input)) {
    if (env.SameFile(file, output) || env.SameFile(file, AttributePathOf(output))) {
      BuildPrint(kOutputOverInputFormat, output);
      return false;
    }
  }
  for (const std::string& path : {std::string(output), AttributePathOf(output)}) {
    platform::FileInfo info;
    if (env.PathStat(path, &info) == 0 && info.directory) {
      BuildPrint(kOutputIsFolderFormat, output);
      return false;
    }
  }
  if (!lock_.Acquire(output)) {
    BuildPrint(kOutputLockFormat, output, platform::ErrnoText(errno).c_str());
    return false;
  }
  building_ = FreshNameBeside(output, kBuildingMarker, kBuildingSuffix);
  if (building_.empty()) {
    const std::string folder = OutputFolder(output);
    BuildPrint(kBuildingNameFormat, folder.empty() ? "." : folder.c_str(),
               platform::ErrnoText(errno).c_str());
    return false;
  }
  SetDefaults();
  output_ = output;
  if (pipImportInitEx(library_, building_.c_str(), &params_, kImportExtensionKind, input, "",
                      &import_) != 1) {
    import_ = 0;
    PrintEngineError(library_);
    RemoveBuilding();
    return false;
  }
  builder_->SetIdField(idField);
  builder_->SetLibrary(library_);
  builder_->SetAttributeTarget(AttributePathOf(building_));
  if (!builder_->Open(import_, input, output)) {
    // The engine made the file at init: discarding the import removes it.
    pipImportTerm(import_, 0);
    import_ = 0;
    RemoveBuilding();
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
         builder_->WriteAttributeFile(ReadCreationStamp(library_, building_.c_str())) &&
         Commit();
  } catch (const std::exception& e) {
    BuildPrint("Error: %s\n", e.what());
    ok = false;
  } catch (long code) {
    BuildPrint("Error: table library code %ld\n", code);
    ok = false;
  }
  if (!ok) RemoveBuilding();
  lock_.Release();
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
