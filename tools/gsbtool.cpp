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
//                                           meet the rectangle
//   gsbtool name <file.gsb> <pattern>       objects by name ('*' ends a prefix)
//   gsbtool radius <file.gsb> <feet>        the point objects within the radius
//   gsbtool knearest <file.gsb> <k>         the k nearest point objects (both
//                                           through the radius search)
//   gsbtool zip4 <file.z9> <file.gsb>       every ZIP+4 centroid in a region
//   gsbtool tradearea <stores.csv> <customers.csv> <out.gsb> <kind> <level ...>
//                                           trade areas round the stores, one
//                                           to three levels into one file:
//                                           kind ring or nonoverlapping (radii
//                                           in miles), or hull (shares 0 to 1
//                                           of each store's customers); stores
//                                           are "id,longitude,latitude" lines,
//                                           customers "store id,longitude,
//                                           latitude[,value]"
//   gsbtool export <format> <file.gsb> <output>  every object into bna (.bna),
//                                           pxf (.pxf with .pxd), shp (.shp,
//                                           .shx, .dbf; objects of one kind)
//                                           or tab (a map table)
//
//   gsbtool --help | -h                     this usage
//
// Points come from standard input, one a line: longitude and latitude in
// degrees, separated by blanks or a comma; lines may end in CR LF.
// Coordinates on the command line are degrees too. Exit value 0 on success
// (and for --help), 1 on failure, 2 for usage.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
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
    "       gsbtool rect <file.gsb> <x1> <y1> <x2> <y2>\n"
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
    "36521358 feet), and says when fewer than k lie within it.\n";

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

int Failed(uint32_t context, const char* what) {
  char message[256] = "", detail[256] = "";
  const int32_t code = pipErrorGet(context, message, detail);
  std::fprintf(stderr, "gsbtool: %s failed (%d) %s\n%s\n", what, code, message, detail);
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

// One point of standard input; false at its end. Lines that hold no point
// are reported and skipped.
bool ReadPoint(std::string* line, int32_t* x, int32_t* y) {
  while (std::getline(std::cin, *line)) {
    if (!line->empty() && line->back() == '\r') line->pop_back();
    std::string text = *line;
    for (char& c : text)
      if (c == ',' || c == '\t') c = ' ';
    const size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) continue;
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
  }
  return false;
}

// Opens input by its extension on the import.
int32_t OpenInput(uint32_t import, const std::string& input, const char* field,
                  const char* second) {
  std::string extension(platform::BaseNameOf(input));
  const size_t dot = extension.rfind('.');
  extension = dot == std::string::npos ? "" : extension.substr(dot + 1);
  for (char& c : extension) c = platform::AsciiLower(c);
  if (extension == "shp") return pipImportOpenShape(import, input.c_str(), field, second);
  if (extension == "pxf") return pipImportOpenPXF2(import, input.c_str(), field, second);
  if (extension == "tab") return pipImportOpenTAB(import, input.c_str(), field, second);
  if (extension == "bna")
    return pipImportOpenBNA(import, input.c_str(), field ? std::atoi(field) : 1);
  std::fprintf(stderr, "gsbtool: %s: not a .shp, .pxf, .bna or .tab file\n", input.c_str());
  return -1;
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
  std::string line;
  int32_t x, y;
  char name[kNameSize];
  while (ReadPoint(&line, &x, &y)) {
    std::string hits;
    long found = 0;
    int32_t r = first(x, y, name);
    for (; r > 0; r = pipObjectFindNext(f.file(), name, kNameSize), ++found)
      hits += (hits.empty() ? "" : "; ") + std::string(name) + describe(x, y);
    if (r < 0) return f.Fail("searching");
    std::printf("%s: %s%s\n", line.c_str(), hits.empty() ? "-" : hits.c_str(), after(found).c_str());
  }
  return 0;
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
        return query.criteria ? pipObjectFindFirstNearestEx(f.file(), x, y, k,
                                                            query.criteria->c_str(), name, kNameSize)
                   : pipObjectFindFirstNearest(f.file(), x, y, k, name, kNameSize);
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
  std::string line;
  int32_t x, y;
  while (ReadPoint(&line, &x, &y)) {
    // Every query on the object found stays with it.
    pipObjectFileGoto64(f.file(), low, high);
    const int32_t feet = pipObjectDistanceToBorder(f.file(), x, y);
    const bool inside = pipPointInPoly(f.file(), x, y) == 1;
    std::printf("%s: %d ft %s\n", line.c_str(), feet, inside ? "inside" : "outside");
  }
  return 0;
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
  std::string line;
  int32_t x, y, hx, hy;
  char name[kNameSize];
  int result = 0;
  while (result == 0 && ReadPoint(&line, &x, &y)) {
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
  return result;
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
  const uint32_t context = uint32_t(pipInit(0, ""));
  pipImportParamStruct params;
  std::memset(&params, 0, sizeof params);
  params.pointLimit = 5000000;
  params.polygonLimit = 15000;
  params.coordinateKind = 1;
  params.flags = PIP_IMPORT_SEGMENTS;
  uint32_t import = 0;
  if (pipImportInitEx(context, output.c_str(), &params, 74, input.c_str(), "", &import) != 1)
    return Failed(context, "creating the output");
  if (OpenInput(import, input, field, second) != 1) {
    pipImportTerm(import, 0);
    return Failed(context, "opening the input");
  }
  uint32_t stored = 0, skipped = 0, percent = 0, count = 0;
  char name[kNameSize];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, &percent, &count)) > 0)
    ++(status == 1 ? stored : skipped);
  pipImportClose(import);
  if (status < 0) {
    pipImportTerm(import, 0);
    return Failed(context, "reading the input");
  }
  if (pipImportTerm(import, 1) != 1) return Failed(context, "finishing the output");
  std::printf("%s: %u objects stored, %u records skipped\n", input.c_str(), stored, skipped);
  pipTerm(context);
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

// Reads "id,longitude,latitude[,value]" lines into the job: stores, or
// customers of the store named by the id. Blank lines are skipped; false
// (reported) at a line that is neither.
bool ReadTradeAreaCsv(uint32_t context, uint32_t job, const std::string& path, bool customers,
                      size_t* count) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
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
      Failed(context, (path + ":" + std::to_string(number)).c_str());
      return false;
    }
    ++*count;
  }
  return true;
}

int TradeArea(const std::string& stores, const std::string& customers, const std::string& output,
              const std::string& kind, const std::vector<std::string>& levelTexts) {
  if (kind != "ring" && kind != "nonoverlapping" && kind != "hull") return Usage();
  double levels[3] = {0, 0, 0};
  for (size_t i = 0; i < levelTexts.size(); ++i) {
    const std::string& t = levelTexts[i];
    const auto r = std::from_chars(t.data(), t.data() + t.size(), levels[i]);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size()) return Usage();
  }
  const uint32_t context = uint32_t(pipInit(0, ""));
  uint32_t job = 0;
  if (pipPmaInit(context, &job) != 1) return Failed(context, "creating the job");
  size_t storeCount = 0, customerCount = 0;
  int result = 0;
  if (!ReadTradeAreaCsv(context, job, stores, false, &storeCount) ||
      !ReadTradeAreaCsv(context, job, customers, true, &customerCount)) {
    result = 1;
  } else if (pipPmaSetOutputFiles(job, 1, output.c_str(), output.c_str(), output.c_str()) != 1) {
    result = Failed(context, "creating the output");
  } else {
    // Geographic, 72 segments; every level above the first holds the one
    // below as a second part, so a point lies in one band only.
    int32_t r;
    if (kind == "ring")
      r = pipPmaGenerateRingPolygons(job, 72, 1, 1, levels[0], levels[1], levels[2]);
    else if (kind == "nonoverlapping")
      r = pipPmaGenerateNonoverlappingRingPolygons(job, 72, 1, 1, levels[0], levels[1], levels[2]);
    else
      r = pipPmaGenerateConvexHullPolygons(job, 1, 0, 1, 1, levels[0], levels[1], levels[2]);
    if (r != 1) result = Failed(context, "generating the trade areas");
  }
  if (pipPmaTerm(job, result == 0 ? 1 : 0) != 1 && result == 0)
    result = Failed(context, "finishing the output");
  pipTerm(context);
  if (result != 0) return result;
  std::printf("%zu stores, %zu customers\n", storeCount, customerCount);
  const bool named = output.size() > 4 && output.compare(output.size() - 4, 4, ".gsb") == 0;
  return Info(named ? output : output + ".gsb");
}
// Every object of path through an exporter of format; a partial output is
// deleted (BNA and interchange text) when the export fails.
int Export(const std::string& format, const std::string& path, const std::string& output) {
  const uint32_t context = uint32_t(pipInit(0, ""));
  pipObjectFileInfoStruct header;
  if (pipObjectFileQuery(context, path.c_str(), &header) != 1)
    return Failed(context, ("opening " + path).c_str());
  const uint32_t total = header.pointCount + header.lineCount + header.regionCount;
  uint32_t exporter = 0;
  int32_t made = -1;
  if (format == "bna") {
    made = pipExportInitBNA(context, output.c_str(), &exporter);
  } else if (format == "pxf") {
    made = pipExportInitPXF(context, output.c_str(), &exporter);
  } else if (format == "tab") {
    made = pipExportInitTAB(context, output.c_str(), &exporter, 0);
  } else {
    // A shapefile holds objects of one kind.
    const int kinds = (header.pointCount > 0) + (header.lineCount > 0) + (header.regionCount > 0);
    if (kinds > 1) {
      std::fprintf(stderr, "gsbtool: %s holds objects of more than one kind\n", path.c_str());
      return 1;
    }
    const int32_t kind = header.pointCount > 0  ? int32_t(PIP_OBJECT_POINT)
                         : header.lineCount > 0 ? int32_t(PIP_OBJECT_LINE)
                                                : int32_t(PIP_OBJECT_REGION);
    made = pipExportInitSHP(context, output.c_str(), &exporter, kind);
  }
  if (made != 1) return Failed(context, "creating the output");
  if (pipExportOpen(exporter, path.c_str(), 2) != 1) {
    pipExportTerm(exporter, 0);
    return Failed(context, ("opening " + path).c_str());
  }
  char name[kNameSize];
  int32_t percent = 0, done = 0;
  while (pipExportWrite(exporter, name, sizeof name, &percent, &done) == 1) {
  }
  pipExportClose(exporter);
  if (uint32_t(done) != total) {
    pipExportTerm(exporter, 0);
    return Failed(context, "exporting");
  }
  if (pipExportTerm(exporter, 1) != 1) return Failed(context, "finishing the output");
  std::printf("%s: %d objects written to %s\n", path.c_str(), done, output.c_str());
  pipTerm(context);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  const std::string file = argv[2];
  if (command == "import" && argc >= 4 && argc <= 6) {
    const int result =
        Import(file, argv[3], argc > 4 ? argv[4] : nullptr, argc > 5 ? argv[5] : nullptr);
    return result != 0 ? result : Info(argv[3]);
  }
  if (command == "info" && argc == 3) return Info(file);
  if (command == "names" && argc == 3) return Names(file);
  if (command == "contains") return Contains(file, std::vector<std::string>(argv + 3, argv + argc));
  if (command == "nearest") {
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
  if (command == "export" && argc == 5 &&
      (file == "bna" || file == "pxf" || file == "shp" || file == "tab"))
    return Export(file, argv[3], argv[4]);
  return Usage();
}
