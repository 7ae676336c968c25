#include "builder/buildpath.h"

#include "base/gsaformat.h"
#include "platform/env.h"

namespace {

size_t LastSeparator(std::string_view path) { return path.find_last_of("/\\"); }

}  // namespace

std::string OutputFolder(std::string_view output) {
  size_t cut = LastSeparator(output);
  return cut == std::string_view::npos ? std::string() : std::string(output.substr(0, cut));
}

std::string LogPathOf(std::string_view output) { return std::string(output) + ".log"; }

std::string AttributePathOf(std::string_view output) {
  return GsaAttributePath(std::string(output));
}

std::string CompanionPath(std::string_view path, std::string_view extension) {
  std::string companion(path);
  const size_t n = std::min(extension.size(), companion.size());
  const size_t start = companion.size() - n;
  for (size_t i = 0; i < n; ++i) {
    char& c = companion[start + i];
    const char e = extension[extension.size() - n + i];
    c = platform::AsciiIsUpper(c) ? platform::AsciiUpper(e) : platform::AsciiLower(e);
  }
  std::string resolved = platform::Env::Current().ResolveExisting(companion);
  // Keep the caller's separators when nothing was found.
  return resolved == platform::NormalizeSeparators(companion) ? companion : resolved;
}

std::string_view AccessDatabasePart(std::string_view input) {
  size_t colon = input.rfind(':');
  if (colon == std::string_view::npos) return {};
  std::string_view database = input.substr(0, colon);
  if (database.size() < 4 ||
      !platform::AsciiEqualsIgnoreCase(database.substr(database.size() - 4), ".mdb"))
    return {};
  return database;
}

std::string InputKind(std::string_view input) {
  std::string_view database = AccessDatabasePart(input);
  std::string_view path = database.empty() ? input : database;
  size_t separator = LastSeparator(path);
  std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::string();
  std::string kind(name.substr(dot + 1));
  for (char& c : kind) c = platform::AsciiUpper(c);
  return kind;
}

bool InputExists(std::string_view input) {
  platform::Env& env = platform::Env::Current();
  platform::FileInfo info;
  if (env.PathStat(input, &info) == 0) return true;
  std::string_view database = AccessDatabasePart(input);
  return !database.empty() && env.PathStat(database, &info) == 0 && !info.directory;
}

std::string FreshFileName(std::string_view directory, std::string_view prefix,
                          std::string_view suffix) {
  platform::Env& env = platform::Env::Current();
  std::string name;
  int fd = env.CreateTemp(directory.empty() ? std::string_view(".") : directory, prefix, suffix,
                          &name);
  if (fd < 0) return std::string();
  env.Close(fd);
  env.Remove(name);
  return name;
}

std::string FreshNameBeside(std::string_view path, std::string_view marker,
                            std::string_view suffix) {
  std::string stem(platform::BaseNameOf(platform::NormalizeSeparators(path)));
  if (size_t dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
  return FreshFileName(OutputFolder(path), stem + std::string(marker), suffix);
}

bool FolderWritable(std::string_view folder) {
  return !FreshFileName(folder, ".gsbbuild.", ".tmp").empty();
}
