// gsbtool: builds boundary files and shows what they hold.
//
//   gsbtool import <input> <output.gsb> [name-field [second-field]]
//       builds the boundary file from a shapefile (.shp), interchange text
//       (.pxf with its .pxd), BNA text (.bna; the name field is the name's
//       position, 1 to 3) or a map table (.tab), then shows its summary
//   gsbtool info <file.gsb>     header, object counts and bounds
//   gsbtool names <file.gsb>    the objects' names in file order
//
// Building goes through Zonelib's C interface only. Reading a finished file
// back has no C call yet, so info and names decode the file with the
// engine's own format description (boundary/gsbformat.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boundary/gsbformat.h"
#include "platform/env.h"
#include "zonelib.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: gsbtool import <input> <output.gsb> [name-field [second-field]]\n"
               "       gsbtool info <file.gsb>\n"
               "       gsbtool names <file.gsb>\n");
  return 2;
}

int Failed(uint32_t context, const char* what) {
  char message[256] = "", detail[256] = "";
  const int32_t code = pipErrorGet(context, message, detail);
  std::fprintf(stderr, "gsbtool: %s failed (%d) %s\n%s\n", what, code, message, detail);
  return 1;
}

// Opens the input by its extension.
int32_t OpenInput(uint32_t import, const std::string& input, const char* field,
                  const char* second) {
  std::string extension(platform::BaseNameOf(input));
  const size_t dot = extension.rfind('.');
  extension = dot == std::string::npos ? "" : extension.substr(dot + 1);
  for (char& c : extension) c = platform::AsciiLower(c);
  if (extension == "shp") return pipImportOpenShape(import, input.c_str(), field, second);
  if (extension == "pxf") return pipImportOpenPXF2(import, input.c_str(), field, second);
  if (extension == "tab") return pipImportOpenTAB(import, input.c_str(), field, second);
  if (extension == "bna") return pipImportOpenBNA(import, input.c_str(), field ? std::atoi(field) : 1);
  std::fprintf(stderr, "gsbtool: %s: not a .shp, .pxf, .bna or .tab file\n", input.c_str());
  return -1;
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
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, &percent, &count)) > 0)
    ++(status == 1 ? stored : skipped);
  pipImportClose(import);
  if (status < 0) {
    pipImportTerm(import, 0);
    return Failed(context, "reading the input");
  }
  if (pipImportTerm(import, 1) != 1) return Failed(context, "finishing the output");
  pipTerm(context);
  std::printf("%s: %u objects stored, %u records skipped\n", input.c_str(), stored, skipped);
  return 0;
}

bool Load(const std::string& path, std::string* bytes, GsbHeader* header) {
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const char* why = "cannot be read";
  if (in.bad() || !DecodeGsbHeader(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(),
                                   bytes->size(), header, &why)) {
    std::fprintf(stderr, "gsbtool: %s: %s\n", path.c_str(), why);
    return false;
  }
  return true;
}

int Info(const std::string& path) {
  std::string bytes;
  GsbHeader h;
  if (!Load(path, &bytes, &h)) return 1;
  std::string text(h.text, strnlen(h.text, sizeof h.text));
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\x1A') c = ' ';
  text.erase(text.find_last_not_of(' ') + 1);
  const GsbBounds b = h.AllBounds();
  std::printf("file         %s (%zu bytes)\n", path.c_str(), bytes.size());
  std::printf("text         %s\n", text.c_str());
  std::printf("flags        0x%02X%s%s%s\n", h.flags, h.flags & kGsbFlagSegments ? " segments" : "",
              h.flags & kGsbFlagPacked ? " packed" : "", h.flags & kGsbFlagTax ? " tax" : "");
  std::printf("coordinates  kind %u%s\n", h.coordinateKind,
              h.coordinateKind == 1 ? " (millionths of a degree)" : "");
  std::printf("objects      %u (%u regions, %u lines, %u points)\n",
              h.regionCount + h.lineCount + h.pointCount, h.regionCount, h.lineCount,
              h.pointCount);
  std::printf("bounds       %d %d %d %d\n", b.xmin, b.ymin, b.xmax, b.ymax);
  std::printf("largest      %u bytes, %u points, %u rings\n", h.maxRecordLength, h.maxPoints,
              h.maxRings);
  GsbExtension e;
  const char* why = nullptr;
  if (h.hasExtension == 1 && bytes.size() >= kGsbExtensionOffset + kGsbExtensionSize &&
      DecodeGsbExtension(reinterpret_cast<const uint8_t*>(bytes.data()) + kGsbExtensionOffset,
                         kGsbExtensionSize, &e, &why))
    std::printf("made from    %s, %s\n", e.name, e.created);
  return 0;
}

int Names(const std::string& path) {
  std::string bytes;
  GsbHeader h;
  if (!Load(path, &bytes, &h)) return 1;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  uint64_t at = h.hasExtension == 1 ? kGsbExtensionOffset + kGsbExtensionSize : kGsbHeaderSize;
  const uint64_t objects = uint64_t(h.regionCount) + h.lineCount + h.pointCount;
  for (uint64_t i = 0; i < objects; ++i) {
    GsbObjectRecord r;
    const char* why = "past the end of the file";
    if (at >= bytes.size() ||
        !DecodeGsbObjectRecord(data + at, bytes.size() - at, h.IsCurrentLayout(), &r, &why)) {
      std::fprintf(stderr, "gsbtool: %s: record %llu: %s\n", path.c_str(),
                   static_cast<unsigned long long>(i + 1), why);
      return 1;
    }
    std::printf("%.*s\n", int(r.name.size()), r.name.data());
    at += r.length;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  if (command == "import" && argc >= 4 && argc <= 6) {
    const int result = Import(argv[2], argv[3], argc > 4 ? argv[4] : nullptr,
                              argc > 5 ? argv[5] : nullptr);
    return result != 0 ? result : Info(argv[3]);
  }
  if (command == "info" && argc == 3) return Info(argv[2]);
  if (command == "names" && argc == 3) return Names(argv[2]);
  return Usage();
}
