// gsbtool: builds boundary files and searches them, through Zonelib's C
// interface.
//
//   gsbtool import <input> <output.gsb> [name-field [second-field]]
//       builds the boundary file from a shapefile (.shp), interchange text
//       (.pxf with its .pxd), BNA text (.bna; the name field is the name's
//       position, 1 to 3) or a map table (.tab), then shows its summary
//       (gsbbuild also writes the attribute file)
//   gsbtool info <file.gsb>                 header, object counts and bounds
//   gsbtool names <file.gsb>                the objects' names in name order
//   gsbtool contains <file.gsb> [field ...] the objects containing each point
//   gsbtool nearest <file.gsb> <k> [criteria] [--distance <feet>]
//                                           the k nearest point objects within
//                                           the search distance (366000 feet
//                                           unless given)
//   gsbtool distance <file.gsb> <name>      feet from each point to the
//                                           border of the object named
//   gsbtool rect <file.gsb> <x1> <y1> <x2> <y2>  objects whose rectangles
//                                           meet the rectangle (degrees)
//   gsbtool name <file.gsb> <pattern>       objects by name ('*' ends a prefix)
//   gsbtool radius <file.gsb> <feet>        the point objects within the radius
//   gsbtool knearest <file.gsb> <k>         the k nearest point objects (both
//                                           through the radius search)
//   gsbtool zip4 <file.z9> <file.gsb>       every ZIP+4 centroid in a region
//   gsbtool tradearea <stores.csv> <customers.csv> <out.gsb> <kind> <level ...>
//                                           trade areas round the stores, one
//                                           to three levels into one file:
//                                           kind ring or nonoverlapping (radii
//                                           in miles, above 0, at most 12420),
//                                           or hull (shares above 0, at most 1,
//                                           of each store's customers); stores
//                                           are "id,longitude,latitude" lines,
//                                           customers "store id,longitude,
//                                           latitude[,value]"; a store without
//                                           an area at a level is named
//   gsbtool export <format> <file.gsb> <output>  every object into bna (.bna),
//                                           pxf (.pxf with .pxd), shp (.shp,
//                                           .shx, .dbf; objects of one kind)
//                                           or tab (a map table, .TAB added
//                                           when the output has no extension)
//
//   gsbtool --help | -h                     this usage
//
// Points come from standard input, one a line: longitude and latitude in
// degrees, separated by blanks or a comma; lines may end in CR LF. Each line
// gets one line of output, so answers stay in step with the lines asked.
// Coordinates on the command line are degrees too. Exit value 0 on success
// (and for --help), 1 on failure (also when a line held no point), 2 for
// usage (an unknown command or format is named).
//
// Outputs are written under a reserved name beside them and renamed into
// place only when the whole run has succeeded; an output that is the input
// or a file read with it is refused.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "zonelib.h"

namespace {

constexpr int kNameSize = 128;
constexpr int kExitUsage = 2;
// The most answers one nearest search gives, and the search distances (feet)
// the library takes.
constexpr long kMostNearest = 65536;
constexpr long kLeastSearchFeet = 2738;
constexpr long kMostSearchFeet = 36521358;

constexpr const char* kUsageText =
    "usage: gsbtool import <input> <output.gsb> [name-field [second-field]]\n"
    "       gsbtool info <file.gsb>\n"
    "       gsbtool names <file.gsb>\n"
    "       gsbtool contains <file.gsb> [field ...]    (points on standard input)\n"
    "       gsbtool nearest <file.gsb> <k> [criteria] [--distance <feet>]\n"
    "                                                  (points on standard input)\n"
    "       gsbtool distance <file.gsb> <name>         (points on standard input)\n"
    "       gsbtool rect <file.gsb> <x1> <y1> <x2> <y2>  (corners in degrees)\n"
    "       gsbtool name <file.gsb> <pattern>\n"
    "       gsbtool radius <file.gsb> <feet>           (points on standard input)\n"
    "       gsbtool knearest <file.gsb> <k>            (points on standard input)\n"
    "       gsbtool zip4 <file.z9> <file.gsb>\n"
    "       gsbtool tradearea <stores.csv> <customers.csv> <out.gsb> ring|nonoverlapping|hull\n"
    "                         <level> [<level> [<level>]]\n"
    "       gsbtool export bna|pxf|shp|tab <file.gsb> <output>\n"
    "       gsbtool --help\n"
    "Points: longitude and latitude in degrees, one point a line. nearest gives\n"
    "the k (1 to 65536) nearest point objects within the search distance,\n"
    "366000 feet (about 69 miles) unless --distance gives another (2738 to\n"
    "36521358 feet), and says when fewer than k lie within it. Each line read\n"
    "gets one line out; a line that holds no point says so in its place.\n"
    "Exit value: 0 done, 1 failed (also when a line held no point), 2 wrong words.\n";

int Usage() {
  std::fputs(kUsageText, stderr);
  return kExitUsage;
}

// A whole decimal number from lowest to highest, the whole text; false
// otherwise.
bool WholeNumber(std::string_view text, long lowest, long highest, long* out) {
  long value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  if (value < lowest || value > highest) return false;
  *out = value;
  return true;
}

// The text with every run of blanks and line ends made one blank, trimmed.
std::string OneLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    const bool blank = platform::AsciiIsSpace(c);
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// One line: what failed, the library's code, message and detail (the
// detail left out when the line already holds it, such as a path).
int Failed(uint32_t context, const std::string& what) {
  char message[256] = "", detail[256] = "";
  const int32_t code = pipErrorGet(context, message, detail);
  std::string line = "gsbtool: " + what + " failed (" + std::to_string(code) + ")";
  const std::string m = OneLine(message), d = OneLine(detail);
  if (!m.empty()) line += " " + m;
  if (!d.empty() && line.find(d) == std::string::npos) line += (m.empty() ? " " : ": ") + d;
  std::fprintf(stderr, "%s\n", line.c_str());
  return 1;
}

// Degrees to millionths, rounded; false for a text that is not a number in
// range.
bool Millionths(std::string_view text, int32_t* out) {
  while (!text.empty() && platform::AsciiIsSpace(text.front())) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double degrees = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), degrees);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  const double v = std::round(degrees * 1e6);
  if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
  *out = int32_t(v);
  return true;
}

// The points of standard input, one a line. Every line gets one line of
// output, so answers stay in step with the lines asked: a blank line an
// empty line, a line that holds no point "<text>: not a point" (said on
// standard error too; the run then ends with 1).
class PointReader {
 public:
  // The next point; false at the end of the input.
  bool Next(std::string* line, int32_t* x, int32_t* y) {
    while (std::getline(std::cin, *line)) {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      std::string text = *line;
      for (char& c : text)
        if (c == ',' || c == '\t') c = ' ';
      const size_t a = text.find_first_not_of(' ');
      if (a == std::string::npos) {
        std::printf("\n");
        continue;
      }
      const size_t b = text.find(' ', a);
      const size_t c = b == std::string::npos ? b : text.find_first_not_of(' ', b);
      const size_t d = c == std::string::npos ? c : text.find(' ', c);
      if (b != std::string::npos && c != std::string::npos &&
          Millionths(std::string_view(text).substr(a, b - a), x) &&
          Millionths(std::string_view(text).substr(c, d == std::string::npos ? d : d - c), y)) {
        *line = text.substr(a, b - a) + " " + text.substr(c, d == std::string::npos ? d : d - c);
        return true;
      }
      std::fprintf(stderr, "gsbtool: not a point: %s\n", line->c_str());
      std::printf("%s: not a point\n", line->c_str());
      bad_ = true;
    }
    return false;
  }
  // The run's exit value: 1 once a line held no point.
  int Result(int result) const { return result == 0 && bad_ ? 1 : result; }

 private:
  bool bad_ = false;
};

// ---- Files: the inputs no output may replace, outputs built aside ---------

// The extension of a path's file name without its dot, in lower case; empty
// when it has none.
std::string ExtensionOf(const std::string& path) {
  const std::string_view name = platform::BaseNameOf(path);
  const size_t dot = name.rfind('.');
  std::string extension(dot == std::string_view::npos ? "" : name.substr(dot + 1));
  for (char& c : extension) c = platform::AsciiLower(c);
  return extension;
}

// The path without the extension of its file name.
std::string StemOf(const std::string& path) {
  const size_t name = path.size() - platform::BaseNameOf(path).size();
  const size_t dot = path.rfind('.');
  return dot == std::string::npos || dot <= name ? path : path.substr(0, dot);
}

bool EndsWithIgnoreCase(const std::string& text, std::string_view end) {
  const std::string_view view(text);
  return view.size() >= end.size() &&
         platform::AsciiEqualsIgnoreCase(view.substr(view.size() - end.size()), end);
}

// The files an input is read with: the input and its companions by kind.
std::vector<std::string> InputFiles(const std::string& input) {
  const std::string extension = ExtensionOf(input);
  std::vector<const char*> companions;
  if (extension == "shp") companions = {"shx", "dbf", "prj", "cpg"};
  if (extension == "pxf") companions = {"pxd"};
  if (extension == "tab") companions = {"dat", "map", "id", "ind", "dbf"};
  std::vector<std::string> files = {input};
  for (const char* companion : companions) files.push_back(StemOf(input) + "." + companion);
  return files;
}

// The attribute file a boundary file is read with (area.gsb: area.gsa).
std::string AttributeFileOf(const std::string& path) {
  std::string attributes = path;
  if (!ExtensionOf(path).empty()) attributes.back() = 'a';
  return attributes;
}

// False (said) when an output would replace one of the files read, or is a
// folder.
bool OutputsSpareInputs(const std::vector<std::string>& inputs,
                        const std::vector<std::string>& outputs) {
  for (const std::string& output : outputs) {
    for (const std::string& input : inputs) {
      if (!platform::Env::Current().SameFile(input, output)) continue;
      std::fprintf(stderr,
                   "gsbtool: the output %s would overwrite the input or a file that goes with "
                   "it\n",
                   output.c_str());
      return false;
    }
    platform::FileInfo info;
    if (platform::Env::Current().PathStat(output, &info) == 0 && info.directory) {
      std::fprintf(stderr, "gsbtool: the output %s is a folder\n", output.c_str());
      return false;
    }
  }
  return true;
}

// False (said) when the input does not exist.
bool InputExists(const std::string& input) {
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(input, &info) == 0) return true;
  std::fprintf(stderr, "gsbtool: %s: %s\n", input.c_str(), platform::ErrnoText(errno).c_str());
  return false;
}

// The outputs of a run are written beside the output under a reserved name,
// an empty file "<output stem>.gsbtool-<unique>" whose name, with an
// extension added, the library's files take. They are renamed into place
// only when the whole run has succeeded, so a failed or refused run leaves
// the files at the output paths as they were; whatever is left of them goes
// with the reservation.
class Staging {
 public:
  Staging() = default;
  ~Staging() {
    if (reserved_.empty()) return;
    platform::Env& env = platform::Env::Current();
    for (const std::string& file : Staged()) env.Remove(file);
    env.Remove(reserved_);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  // Reserves a name in the folder of output; false (said) when no file can
  // be made there.
  bool Reserve(const std::string& output) {
    platform::Env& env = platform::Env::Current();
    const std::string folder = platform::DirectoryOf(output);
    const std::string prefix =
        std::string(platform::BaseNameOf(StemOf(output))) + ".gsbtool-";
    const int fd = env.CreateTemp(folder, prefix, "", &reserved_);
    if (fd < 0) {
      std::fprintf(stderr, "gsbtool: cannot make a file in %s: %s\n", folder.c_str(),
                   platform::ErrnoText(errno).c_str());
      reserved_.clear();
      return false;
    }
    env.Close(fd);
    return true;
  }
  // The reserved name; the library writes "<name>.<extension>".
  const std::string& Name() const { return reserved_; }

  // Renames each file written, "<name><tail>", to stem + tail (an existing
  // file of that name in another letter case is replaced); false (said)
  // when a file cannot be put in place.
  bool PutInPlace(const std::string& stem) {
    platform::Env& env = platform::Env::Current();
    for (const std::string& file : Staged()) {
      const std::string target = env.ResolveExisting(stem + file.substr(reserved_.size()));
      if (env.Rename(file, target) != 0) {
        std::fprintf(stderr, "gsbtool: cannot put %s in place: %s\n", target.c_str(),
                     platform::ErrnoText(errno).c_str());
        return false;
      }
    }
    return true;
  }
  // Renames the one file "<name><tail>" to output.
  bool PutInPlaceAs(const std::string& tail, const std::string& output) {
    platform::Env& env = platform::Env::Current();
    const std::string target = env.ResolveExisting(output);
    if (env.Rename(reserved_ + tail, target) != 0) {
      std::fprintf(stderr, "gsbtool: cannot put %s in place: %s\n", target.c_str(),
                   platform::ErrnoText(errno).c_str());
      return false;
    }
    return true;
  }

 private:
  // The files written under the reserved name, "<name>." and more.
  std::vector<std::string> Staged() const {
    std::vector<std::string> names, files;
    const std::string folder = platform::DirectoryOf(reserved_);
    const std::string prefix = std::string(platform::BaseNameOf(reserved_)) + ".";
    if (!platform::Env::Current().ListDirectory(folder, &names)) return files;
    for (const std::string& name : names)
      if (name.compare(0, prefix.size(), prefix) == 0)
        files.push_back(reserved_ + name.substr(prefix.size() - 1));
    return files;
  }

  std::string reserved_;
};

// A library context, ended with the object.
class Context {
 public:
  Context() : handle_(uint32_t(pipInit(0, ""))) {}
  ~Context() {
    if (handle_) pipTerm(handle_);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  uint32_t handle() const { return handle_; }

 private:
  uint32_t handle_;
};

// Opens input by its extension on the import.
int32_t OpenInput(uint32_t import, const std::string& input, const char* field,
                  const char* second) {
  const std::string extension = ExtensionOf(input);
  if (extension == "shp") return pipImportOpenShape(import, input.c_str(), field, second);
  if (extension == "pxf") return pipImportOpenPXF2(import, input.c_str(), field, second);
  if (extension == "tab") return pipImportOpenTAB(import, input.c_str(), field, second);
  return pipImportOpenBNA(import, input.c_str(), field ? std::atoi(field) : 1);
}

// A library context and an open boundary file, closed at the end.
class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : path_(path) {
    context_ = uint32_t(pipInit(0, ""));
    if (context_ && pipObjectFileOpen(context_, path.c_str(), 2, &file_) != 1) {
      Failed(context_, ("opening " + path).c_str());
      file_ = 0;
    }
  }
  ~OpenFile() {
    if (file_) pipObjectFileClose(file_);
    if (context_) pipTerm(context_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool ok() const { return file_ != 0; }
  uint32_t file() const { return file_; }
  uint32_t context() const { return context_; }
  int Fail(const char* what) const { return Failed(context_, what); }

 private:
  std::string path_;
  uint32_t context_ = 0;
  uint32_t file_ = 0;
};

int Info(const std::string& path) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  pipObjectFileInfoStruct h;
  if (pipObjectFileQuery(f.context(), path.c_str(), &h) != 1) return f.Fail("reading the header");
  std::string text(h.headerText, strnlen(h.headerText, sizeof h.headerText));
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\x1A') c = ' ';
  text.erase(text.find_last_not_of(' ') + 1);
  std::printf("file         %s\n", path.c_str());
  std::printf("text         %s\n", text.c_str());
  std::printf("flags        0x%02X%s%s%s\n", h.flags,
              h.flags & PIP_IMPORT_SEGMENTS ? " segments" : "",
              h.flags & PIP_IMPORT_PACKED ? " packed" : "", h.flags & PIP_IMPORT_TAX ? " tax" : "");
  std::printf("coordinates  kind %u%s\n", h.coordinateKind,
              h.coordinateKind == 1 ? " (millionths of a degree)" : "");
  std::printf("objects      %u (%u regions, %u lines, %u points)\n",
              h.regionCount + h.lineCount + h.pointCount, h.regionCount, h.lineCount, h.pointCount);
  std::printf("bounds       %d %d %d %d\n", h.bounds[0], h.bounds[1], h.bounds[2], h.bounds[3]);
  if (h.coordinateKind == 1)
    std::printf("in degrees   %.6f %.6f %.6f %.6f (west south east north)\n", h.bounds[0] / 1e6,
                h.bounds[1] / 1e6, h.bounds[2] / 1e6, h.bounds[3] / 1e6);
  std::printf("largest      %u bytes, %u points, %u rings\n", h.maxObjectSize, h.maxPoints,
              h.maxParts);
  pipObjectFileExtraInfoStruct e;
  if (pipObjectHandleFileQueryEx(f.file(), &e) == 1)
    std::printf("made from    %s, %s\n", e.name, e.created);
  int32_t fields = 0;
  if (pipObjectGetAttributeCount(f.file(), &fields) == 1)
    std::printf("attributes   %d fields\n", fields);
  return 0;
}

// Prints every hit of a search begun with result r.
int Hits(const OpenFile& f, int32_t r, char* name) {
  for (; r > 0; r = pipObjectFindNext(f.file(), name, kNameSize)) std::printf("%s\n", name);
  return r < 0 ? f.Fail("searching") : 0;
}

int Names(const std::string& path) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  char name[kNameSize];
  return Hits(f, pipObjectFindFirstName(f.file(), "*", name, sizeof name), name);
}

int ByName(const std::string& path, const char* pattern) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  char name[kNameSize];
  return Hits(f, pipObjectFindFirstName(f.file(), pattern, name, sizeof name), name);
}

int Rect(const std::string& path, char** corners) {
  int32_t c[4];
  for (int i = 0; i < 4; ++i)
    if (!Millionths(corners[i], &c[i])) return Usage();
  OpenFile f(path);
  if (!f.ok()) return 1;
  char name[kNameSize];
  return Hits(f, pipObjectFindFirstRect(f.file(), c[0], c[1], c[2], c[3], name, sizeof name), name);
}

// The fields asked for that the file's attribute file holds; each one it
// does not hold is reported once, here, and left out of the answers.
std::vector<std::string> KnownFields(const OpenFile& f, const std::string& path,
                                     const std::vector<std::string>& fields) {
  if (fields.empty()) return fields;
  int32_t count = 0;
  if (pipObjectGetAttributeCount(f.file(), &count) != 1) {
    std::fprintf(stderr, "gsbtool: %s has no attribute file: no fields are shown\n", path.c_str());
    return {};
  }
  std::vector<std::string> known;
  for (const std::string& field : fields) {
    pipAttributeInfoStruct a;
    // Before any search there is no current row: 0 for a field that exists.
    if (pipObjectGetAttributeInfoByName(f.file(), field.c_str(), &a) >= 0)
      known.push_back(field);
    else
      std::fprintf(stderr, "gsbtool: %s: no attribute named %s\n", path.c_str(), field.c_str());
  }
  return known;
}

// " FIELD=value" for each field asked for, of the current object ("?" for
// a row without a value).
std::string Attributes(uint32_t file, const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& field : fields) {
    pipAttributeInfoStruct a;
    text += " " + field + "=";
    if (pipObjectGetAttributeInfoByName(file, field.c_str(), &a) == 1)
      text += a.value;
    else
      text += "?";
  }
  return text;
}

// For each point of standard input: the point, then each hit of the search
// that first(x, y, name) begins, named and described by describe(x, y), or
// "-" for none, then what after(hits) adds.
template <class First, class Describe, class After>
int EachPoint(const OpenFile& f, First first, Describe describe, After after) {
  PointReader points;
  std::string line;
  int32_t x, y;
  char name[kNameSize];
  while (points.Next(&line, &x, &y)) {
    std::string hits;
    long found = 0;
    int32_t r = first(x, y, name);
    for (; r > 0; r = pipObjectFindNext(f.file(), name, kNameSize), ++found)
      hits += (hits.empty() ? "" : "; ") + std::string(name) + describe(x, y);
    if (r < 0) return f.Fail("searching");
    std::printf("%s: %s%s\n", line.c_str(), hits.empty() ? "-" : hits.c_str(), after(found).c_str());
  }
  return points.Result(0);
}

int Contains(const std::string& path, const std::vector<std::string>& asked) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  const std::vector<std::string> fields = KnownFields(f, path, asked);
  return EachPoint(
      f,
      [&](int32_t x, int32_t y, char* name) {
        return pipObjectFindFirstContaining(f.file(), x, y, 0, name, kNameSize);
      },
      [&](int32_t, int32_t) { return Attributes(f.file(), fields); },
      [](long) { return std::string(); });
}

// nearest's words after the file: k and the criteria, in that order, and
// anywhere among them the search distance (--distance or -d and feet).
struct NearestQuery {
  long k = 0;
  std::optional<std::string> criteria;  // a copy: the words it came from are gone by the search
  long feet = 0;  // 0: the file's own
};

bool ParseNearest(const std::vector<std::string>& words, NearestQuery* query) {
  std::vector<const std::string*> plain;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] != "--distance" && words[i] != "-d") {
      plain.push_back(&words[i]);
      continue;
    }
    if (i + 1 == words.size() ||
        !WholeNumber(words[i + 1], kLeastSearchFeet, kMostSearchFeet, &query->feet)) {
      std::fprintf(stderr, "gsbtool: the search distance must be whole feet from %ld to %ld\n",
                   kLeastSearchFeet, kMostSearchFeet);
      return false;
    }
    ++i;
  }
  if (plain.empty() || plain.size() > 2) return false;
  if (!WholeNumber(*plain[0], 1, kMostNearest, &query->k)) {
    std::fprintf(stderr, "gsbtool: k must be a whole number from 1 to %ld, not '%s'\n", kMostNearest,
                 plain[0]->c_str());
    return false;
  }
  if (plain.size() == 2) query->criteria = *plain[1];
  return true;
}

int Nearest(const std::string& path, const NearestQuery& query) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  if (query.feet != 0 && pipObjectSetSearchDistance(f.file(), uint32_t(query.feet)) != 1)
    return f.Fail("setting the search distance");
  const long feet = pipObjectGetSearchDistance(f.file());
  pipObjectFileInfoStruct h;
  if (pipObjectHandleFileQuery(f.file(), &h) != 1) return f.Fail("reading the header");
  // Fewer answers than asked for, while the file holds more point objects
  // (or a criteria search may pass more): the search distance cut them off.
  const long points = long(h.pointCount);
  const uint32_t k = uint32_t(query.k);
  return EachPoint(
      f,
      [&](int32_t x, int32_t y, char* name) {
        if (!query.criteria) return pipObjectFindFirstNearest(f.file(), x, y, k, name, kNameSize);
        return pipObjectFindFirstNearestEx(f.file(), x, y, k, query.criteria->c_str(), name,
                                           kNameSize);
      },
      [&](int32_t x, int32_t y) {
        return " (" + std::to_string(pipObjectDistanceToBorder(f.file(), x, y)) + " ft)";
      },
      [&](long found) {
        if (found >= query.k || (!query.criteria && found >= points)) return std::string();
        return " [" + std::to_string(found) + " of " + std::to_string(query.k) + " within the search distance of " +
               std::to_string(feet) + " ft]";
      });
}

int Distance(const std::string& path, const char* object) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  char name[kNameSize];
  const int32_t r = pipObjectFindFirstName(f.file(), object, name, sizeof name);
  if (r < 0) return f.Fail("searching");
  if (r == 0) {
    std::fprintf(stderr, "gsbtool: %s: no object named %s\n", path.c_str(), object);
    return 1;
  }
  uint32_t low = 0, high = 0;
  pipObjectGetHandle64(f.file(), &low, &high);
  PointReader points;
  std::string line;
  int32_t x, y;
  while (points.Next(&line, &x, &y)) {
    // Every query on the object found stays with it.
    pipObjectFileGoto64(f.file(), low, high);
    const int32_t feet = pipObjectDistanceToBorder(f.file(), x, y);
    const bool inside = pipPointInPoly(f.file(), x, y) == 1;
    std::printf("%s: %d ft %s\n", line.c_str(), feet, inside ? "inside" : "outside");
  }
  return points.Result(0);
}

// The point objects of a file in a radius search: for each point of
// standard input, those within feet of it, or its k nearest.
int Radial(const std::string& path, const char* number, bool nearest) {
  long n = 0;
  if (nearest && !WholeNumber(number, 1, kMostNearest, &n)) {
    std::fprintf(stderr, "gsbtool: k must be a whole number from 1 to %ld, not '%s'\n",
                 kMostNearest, number);
    return Usage();
  }
  if (!nearest && !WholeNumber(number, 0, INT32_MAX, &n)) {
    std::fprintf(stderr, "gsbtool: the radius must be whole feet from 0 to %d, not '%s'\n",
                 INT32_MAX, number);
    return Usage();
  }
  OpenFile f(path);
  if (!f.ok()) return 1;
  pipObjectFileInfoStruct h;
  if (pipObjectHandleFileQuery(f.file(), &h) != 1) return f.Fail("reading the header");
  if (h.pointCount == 0) {
    std::fprintf(stderr, "gsbtool: %s holds no point objects\n", path.c_str());
    return 1;
  }
  uint32_t search = 0;
  if (pipRadInit(f.context(), int32_t(h.coordinateKind), &search) != 1 ||
      pipRadLoadPoints(search, f.file()) != 1) {
    if (search) pipRadTerm(search);
    return f.Fail("loading the point objects");
  }
  PointReader points;
  std::string line;
  int32_t x, y, hx, hy;
  char name[kNameSize];
  int result = 0;
  while (result == 0 && points.Next(&line, &x, &y)) {
    std::string hits;
    int32_t r = nearest
                    ? pipRadFindFirstNearest(search, x, y, int32_t(n), &hx, &hy, name, kNameSize)
                    : pipRadFindFirstInRadius(search, x, y, int32_t(n), &hx, &hy, name, kNameSize);
    for (; r > 0; r = pipRadFindNext(search, &hx, &hy, name, kNameSize)) {
      const int feet = pipDistance(x, y, hx, hy, int(h.coordinateKind), nullptr);
      hits += (hits.empty() ? "" : "; ") + std::string(name) + " (" + std::to_string(feet) + " ft)";
    }
    if (r < 0)
      result = f.Fail("searching");
    else
      std::printf("%s: %s\n", line.c_str(), hits.empty() ? "-" : hits.c_str());
  }
  pipRadTerm(search);
  return points.Result(result);
}

int Zip4(const std::string& z9, const std::string& path) {
  OpenFile f(path);
  if (!f.ok()) return 1;
  uint32_t zip4 = 0;
  if (pipZip4FileOpen(f.context(), z9.c_str(), &zip4) != 1)
    return f.Fail(("opening " + z9).c_str());
  char code[10], type[2], name[kNameSize];
  int32_t r = pipZip4FindFirst(zip4, f.file(), 0, code, type, name, kNameSize);
  for (; r > 0; r = pipZip4FindNext(zip4, code, type, name, kNameSize))
    std::printf("%s %s %s\n", code, type, name);
  pipZip4FileClose(zip4);
  return r < 0 ? f.Fail("searching") : 0;
}

int Import(const std::string& input, const std::string& output, const char* field,
           const char* second) {
  const std::string extension = ExtensionOf(input);
  if (extension != "shp" && extension != "pxf" && extension != "tab" && extension != "bna") {
    std::fprintf(stderr, "gsbtool: %s: not a .shp, .pxf, .bna or .tab file\n", input.c_str());
    return 1;
  }
  if (!InputExists(input) || !OutputsSpareInputs(InputFiles(input), {output})) return 1;
  Staging staging;
  if (!staging.Reserve(output)) return 1;
  const std::string building = staging.Name() + ".gsb";
  Context context;
  pipImportParamStruct params;
  std::memset(&params, 0, sizeof params);
  params.pointLimit = 5000000;
  params.polygonLimit = 15000;
  params.coordinateKind = 1;
  params.flags = PIP_IMPORT_SEGMENTS;
  uint32_t import = 0;
  if (pipImportInitEx(context.handle(), building.c_str(), &params, 74, input.c_str(), "",
                      &import) != 1)
    return Failed(context.handle(), "creating the output");
  if (OpenInput(import, input, field, second) != 1) {
    pipImportTerm(import, 0);
    return Failed(context.handle(), "opening " + input);
  }
  uint32_t stored = 0, skipped = 0, percent = 0, count = 0;
  char name[kNameSize];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, &percent, &count)) > 0)
    ++(status == 1 ? stored : skipped);
  pipImportClose(import);
  if (status < 0) {
    pipImportTerm(import, 0);
    return Failed(context.handle(), "reading " + input);
  }
  if (pipImportTerm(import, 1) != 1) return Failed(context.handle(), "finishing the output");
  if (!staging.PutInPlaceAs(".gsb", output)) return 1;
  std::printf("%s: %u objects stored, %u records skipped\n", input.c_str(), stored, skipped);
  return 0;
}

// The fields of one CSV line (commas; blanks round a field dropped).
std::vector<std::string> CsvFields(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = line.find(',', start);
    std::string field = line.substr(start, comma == std::string::npos ? comma : comma - start);
    const size_t a = field.find_first_not_of(" \t");
    const size_t b = field.find_last_not_of(" \t");
    fields.push_back(a == std::string::npos ? "" : field.substr(a, b - a + 1));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// What the CSV files gave: the store ids in order, and how many customers
// each store has.
struct TradeAreaInput {
  std::vector<std::string> stores;
  std::map<std::string, size_t> customers;
  size_t customerCount = 0;
};

// Reads "id,longitude,latitude[,value]" lines into the job: stores, or
// customers of the store named by the id. Blank lines are skipped; false
// (reported) at a line that is neither.
bool ReadTradeAreaCsv(uint32_t context, uint32_t job, const std::string& path, bool customers,
                      TradeAreaInput* input) {
  // Only a regular file: a FIFO would block the open, a device never end.
  platform::FileInfo info;
  const bool regular = platform::Env::Current().PathStat(path, &info) == 0 && info.regular;
  std::ifstream in;
  if (regular) in.open(path, std::ios::binary);
  if (!regular || !in.is_open()) {
    std::fprintf(stderr, "gsbtool: cannot read %s\n", path.c_str());
    return false;
  }
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    const std::vector<std::string> f = CsvFields(line);
    if (f.size() == 1 && f[0].empty()) continue;
    int32_t x = 0, y = 0;
    double value = 1.0;
    bool ok = (f.size() == 3 || (customers && f.size() == 4)) && !f[0].empty() &&
              Millionths(f[1], &x) && Millionths(f[2], &y);
    if (ok && f.size() == 4) {
      const auto r = std::from_chars(f[3].data(), f[3].data() + f[3].size(), value);
      ok = r.ec == std::errc() && r.ptr == f[3].data() + f[3].size();
    }
    if (!ok) {
      std::fprintf(stderr, "gsbtool: %s:%zu: not a %s line: %s\n", path.c_str(), number,
                   customers ? "customer" : "store", line.c_str());
      return false;
    }
    const int32_t r = customers ? pipPmaAddCustomer(job, x, y, f[0].c_str(), value)
                                : pipPmaAddStore(job, x, y, f[0].c_str());
    if (r != 1) {
      Failed(context, path + ":" + std::to_string(number));
      return false;
    }
    if (customers) {
      ++input->customers[f[0]];
      ++input->customerCount;
    } else {
      input->stores.push_back(f[0]);
    }
  }
  return true;
}

// The trade-area kinds: the level texts of their object names ("PMA <store>
// <text>") and what a level value is.
struct TradeAreaKind {
  const char* word;
  const char* levelTexts[3];
  bool shares;  // hull: shares of the customers; otherwise radii in miles
};
constexpr TradeAreaKind kTradeAreaKinds[] = {
    {"ring", {"PR", "SR", "TR"}, false},
    {"nonoverlapping", {"PT", "ST", "TT"}, false},
    {"hull", {"PC", "SC", "ST"}, true},
};
// The farthest a ring reaches: the far side of the earth, 180 degrees of
// latitude at the 69 miles a degree the rings are drawn with.
constexpr double kMostRadiusMiles = 12420;
// Longer object names are cut to this many characters.
constexpr size_t kObjectNameLength = 127;

// A level's value: a radius above 0 and at most kMostRadiusMiles, or a
// share above 0 and at most 1; false (said) otherwise.
bool LevelValue(const std::string& text, bool share, double* value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  const bool number = !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
  if (number && std::isfinite(*value) && *value > 0 && *value <= (share ? 1 : kMostRadiusMiles))
    return true;
  if (share)
    std::fprintf(stderr, "gsbtool: a share must be a number above 0 and at most 1, not '%s'\n",
                 text.c_str());
  else
    std::fprintf(stderr,
                 "gsbtool: a radius must be a number of miles above 0 and at most %.0f, not '%s'\n",
                 kMostRadiusMiles, text.c_str());
  return false;
}

// The names of the objects of a boundary file.
std::set<std::string> ObjectNames(const std::string& path) {
  std::set<std::string> names;
  OpenFile f(path);
  if (!f.ok()) return names;
  char name[kNameSize];
  for (int32_t r = pipObjectFindFirstName(f.file(), "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(f.file(), name, sizeof name))
    names.insert(name);
  return names;
}

// Says, for each store, each level it got no area at (no object of its name
// among names) and why.
void SayStoresWithoutArea(const std::set<std::string>& names, const TradeAreaKind& kind,
                          size_t levels, const TradeAreaInput& input) {
  for (const std::string& store : input.stores) {
    for (size_t level = 0; level < levels; ++level) {
      const std::string name =
          ("PMA " + store + " " + kind.levelTexts[level]).substr(0, kObjectNameLength);
      if (names.count(name)) continue;
      if (kind.shares) {
        const auto it = input.customers.find(store);
        const size_t count = it == input.customers.end() ? 0 : it->second;
        std::fprintf(stderr,
                     "gsbtool: store %s has no hull at level %zu: of its %zu customers fewer "
                     "than three fall in the share, or they lie on one line\n",
                     store.c_str(), level + 1, count);
      } else {
        std::fprintf(stderr,
                     "gsbtool: store %s has no area at level %zu: the stores round it leave it "
                     "no room\n",
                     store.c_str(), level + 1);
      }
    }
  }
}

int TradeArea(const std::string& stores, const std::string& customers, const std::string& output,
              const std::string& kindWord, const std::vector<std::string>& levelTexts) {
  const TradeAreaKind* kind = nullptr;
  for (const TradeAreaKind& k : kTradeAreaKinds)
    if (kindWord == k.word) kind = &k;
  if (!kind) {
    std::fprintf(stderr, "gsbtool: unknown trade area kind '%s'\n", kindWord.c_str());
    return Usage();
  }
  double levels[3] = {0, 0, 0};
  for (size_t i = 0; i < levelTexts.size(); ++i)
    if (!LevelValue(levelTexts[i], kind->shares, &levels[i])) return Usage();
  // The library's name: ".gsb" added unless the name already ends so.
  const bool named = output.size() > 4 && output.compare(output.size() - 4, 4, ".gsb") == 0;
  const std::string target = named ? output : output + ".gsb";
  if (!OutputsSpareInputs({stores, customers}, {target})) return 1;
  Staging staging;
  if (!staging.Reserve(target)) return 1;
  const std::string building = staging.Name() + ".gsb";
  Context context;
  uint32_t job = 0;
  if (pipPmaInit(context.handle(), &job) != 1) return Failed(context.handle(), "creating the job");
  TradeAreaInput input;
  int result = 0;
  if (!ReadTradeAreaCsv(context.handle(), job, stores, false, &input) ||
      !ReadTradeAreaCsv(context.handle(), job, customers, true, &input)) {
    result = 1;
  } else if (pipPmaSetOutputFiles(job, 1, building.c_str(), building.c_str(), building.c_str()) !=
             1) {
    result = Failed(context.handle(), "creating the output");
  } else {
    // Geographic, 72 segments; every level above the first holds the one
    // below as a second part, so a point lies in one band only.
    int32_t r;
    if (kindWord == "ring")
      r = pipPmaGenerateRingPolygons(job, 72, 1, 1, levels[0], levels[1], levels[2]);
    else if (kindWord == "nonoverlapping")
      r = pipPmaGenerateNonoverlappingRingPolygons(job, 72, 1, 1, levels[0], levels[1], levels[2]);
    else
      r = pipPmaGenerateConvexHullPolygons(job, 1, 0, 1, 1, levels[0], levels[1], levels[2]);
    if (r != 1) result = Failed(context.handle(), "generating the trade areas");
  }
  if (pipPmaTerm(job, result == 0 ? 1 : 0) != 1 && result == 0)
    result = Failed(context.handle(), "finishing the output");
  if (result != 0) return result;
  // A file that received no area is not kept by the library.
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(building, &info) != 0) {
    std::fprintf(stderr, "gsbtool: no store got a trade area; %s is left as it was\n",
                 target.c_str());
    SayStoresWithoutArea({}, *kind, levelTexts.size(), input);
    return 1;
  }
  SayStoresWithoutArea(ObjectNames(building), *kind, levelTexts.size(), input);
  if (!staging.PutInPlaceAs(".gsb", target)) return 1;
  std::printf("%zu stores, %zu customers\n", input.stores.size(), input.customerCount);
  return Info(target);
}

// The export formats: the extension the library's main output takes (and
// which ends the output path when the user gives it), and the files written.
struct ExportFormat {
  const char* word;
  const char* extension;
  std::vector<const char*> files;
};
const ExportFormat kExportFormats[] = {
    {"bna", ".bna", {".bna"}},
    {"pxf", ".pxf", {".pxf", ".pxd"}},
    {"shp", ".shp", {".shp", ".shx", ".dbf"}},
    {"tab", ".TAB", {".TAB", ".DAT", ".MAP", ".ID", ".IND"}},
};

// Every object of path through an exporter of format into output. The
// files are written aside and put in place only when the whole export has
// succeeded; a failed export leaves what was at the output paths.
int Export(const ExportFormat& format, const std::string& path, const std::string& output) {
  // The output's stem and its main file: BNA and interchange text take
  // their extension unless the path ends in it, a shapefile its stem, a
  // map table ".TAB" when the path has no extension.
  std::string stem = output, main;
  const std::string word = format.word;
  if (word == "bna" || word == "pxf") {
    if (EndsWithIgnoreCase(output, format.extension)) stem.resize(output.size() - 4);
    main = stem + format.extension;
  } else if (word == "shp") {
    stem = StemOf(output);
    main = stem + format.extension;
  } else {
    stem = StemOf(output);
    main = stem == output ? output + format.extension : output;
  }
  std::vector<std::string> outputs;
  for (const char* extension : format.files)
    outputs.push_back(extension == format.files[0] ? main : stem + extension);
  if (!InputExists(path) || !OutputsSpareInputs({path, AttributeFileOf(path)}, outputs)) return 1;

  Context context;
  pipObjectFileInfoStruct header;
  if (pipObjectFileQuery(context.handle(), path.c_str(), &header) != 1)
    return Failed(context.handle(), "opening " + path);
  const uint32_t total = header.pointCount + header.lineCount + header.regionCount;
  int32_t kind = 0;
  if (word == "shp") {
    // A shapefile holds objects of one kind.
    const int kinds = (header.pointCount > 0) + (header.lineCount > 0) + (header.regionCount > 0);
    if (kinds > 1) {
      std::fprintf(stderr, "gsbtool: %s holds objects of more than one kind\n", path.c_str());
      return 1;
    }
    kind = header.pointCount > 0  ? int32_t(PIP_OBJECT_POINT)
           : header.lineCount > 0 ? int32_t(PIP_OBJECT_LINE)
                                  : int32_t(PIP_OBJECT_REGION);
  }
  Staging staging;
  if (!staging.Reserve(main)) return 1;
  // The main file under the reserved name, in the letter case of the
  // user's, so that the library names its companions alike.
  const std::string building = staging.Name() + main.substr(stem.size());
  uint32_t exporter = 0;
  int32_t made = -1;
  if (word == "bna")
    made = pipExportInitBNA(context.handle(), building.c_str(), &exporter);
  else if (word == "pxf")
    made = pipExportInitPXF(context.handle(), building.c_str(), &exporter);
  else if (word == "tab")
    made = pipExportInitTAB(context.handle(), building.c_str(), &exporter, 0);
  else
    made = pipExportInitSHP(context.handle(), building.c_str(), &exporter, kind);
  if (made != 1) return Failed(context.handle(), "creating the output");
  if (pipExportOpen(exporter, path.c_str(), 2) != 1) {
    pipExportTerm(exporter, 0);
    return Failed(context.handle(), "opening " + path);
  }
  char name[kNameSize];
  int32_t percent = 0, done = 0;
  while (pipExportWrite(exporter, name, sizeof name, &percent, &done) == 1) {
  }
  pipExportClose(exporter);
  if (uint32_t(done) != total) {
    pipExportTerm(exporter, 0);
    return Failed(context.handle(), "exporting");
  }
  if (pipExportTerm(exporter, 1) != 1) return Failed(context.handle(), "finishing the output");
  if (!staging.PutInPlace(stem)) return 1;
  std::printf("%s: %d objects written to %s\n", path.c_str(), done, main.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const std::string file = argc > 2 ? argv[2] : "";
  if (command == "import" && argc >= 4 && argc <= 6) {
    const int result =
        Import(file, argv[3], argc > 4 ? argv[4] : nullptr, argc > 5 ? argv[5] : nullptr);
    return result != 0 ? result : Info(argv[3]);
  }
  if (command == "info" && argc == 3) return Info(file);
  if (command == "names" && argc == 3) return Names(file);
  if (command == "contains" && argc >= 3) return Contains(file, std::vector<std::string>(argv + 3, argv + argc));
  if (command == "nearest" && argc >= 3) {
    NearestQuery query;
    if (!ParseNearest(std::vector<std::string>(argv + 3, argv + argc), &query)) return Usage();
    return Nearest(file, query);
  }
  if (command == "distance" && argc == 4) return Distance(file, argv[3]);
  if (command == "rect" && argc == 7) return Rect(file, argv + 3);
  if (command == "name" && argc == 4) return ByName(file, argv[3]);
  if (command == "radius" && argc == 4) return Radial(file, argv[3], false);
  if (command == "knearest" && argc == 4) return Radial(file, argv[3], true);
  if (command == "zip4" && argc == 4) return Zip4(file, argv[3]);
  if (command == "tradearea" && argc >= 7 && argc <= 9)
    return TradeArea(file, argv[3], argv[4], argv[5],
                     std::vector<std::string>(argv + 6, argv + argc));
  if (command == "export" && argc == 5) {
    for (const ExportFormat& format : kExportFormats)
      if (file == format.word) return Export(format, argv[3], argv[4]);
    std::fprintf(stderr, "gsbtool: unknown export format '%s'\n", file.c_str());
    return Usage();
  }
  static const char* const kCommands[] = {"import", "info",   "names",    "contains", "nearest",
                                          "distance", "rect", "name",     "radius",   "knearest",
                                          "zip4",   "tradearea", "export"};
  bool known = false;
  for (const char* c : kCommands) known = known || command == c;
  if (known)
    std::fprintf(stderr, "gsbtool: wrong number of words for %s\n", command.c_str());
  else
    std::fprintf(stderr, "gsbtool: unknown command '%s'\n", command.c_str());
  return Usage();
}
