// The foundation's process-wide state.
//
// The library is single-threaded by contract: its process-wide state sits
// in this one place (FoundationState, State()). Nothing of the foundation is
// exported from liblayerio.so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/norm.h"
#include "mapfile/foundation/session.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/units.h"
#include "mapfile/foundation/value.h"

namespace layerio {

struct FoundationState {
  // error stack and fatal errors
  ErrorStack* errors = nullptr;
  MemHandle errorsHandle = nullptr;
  uint16_t trapping = 0;
  int guardDepth = 0;
  char fatalText[512] = {};
  char* messageBuffers = nullptr;  // 10 x 256 bytes, allocated on first use
  int messageNext = 0;
  // strings
  char* tokenSaved = nullptr;  // MbsTok's position
  int systemCharset = kDefaultSystemCharset;
  int oemCharset = kDefaultOemCharset;
  int defaultCharset = kDefaultSystemCharset;
  const CaseTables* caseTables = nullptr;  // null: the default ones
  bool caseTablesFoldAscii = true;  // the installed tables fold A-Z as ASCII does
  // charsets
  bool charsetReady = false;  // CharsetInit has run
  int conversionLast = -1;    // the cache slot filled last
  CharsetConversion conversions[kCharsetCacheSlots];
  // locale
  char dateSeparator = '/';
  int16_t dateOrder = 0;
  char decimalSeparator = '.';
  char thousandSeparator = 0;
  int grouping = 0;
  int16_t ignoreSeparators = 0;
  Session* session = nullptr;
  // units
  const CoordSysServices* coordSys = nullptr;
  // map objects held in values
  const MapObjectServices* mapObjects = nullptr;
  // normalization tables and stamps
  NormState norm = {};
  // parser
  ParserVariables parser = {};
  // file layer, paths and directories
  FileEntry* fileTable = nullptr;
  int32_t fileTableSize = 0;  // entries allocated
  FileCache* fileCache = nullptr;
  int32_t fileDescriptors = 0;
  int32_t fileDescriptorLimit = kFileDefaultDescriptorLimit;
  char* dirPool = nullptr;  // NUL-ended directory texts from offset 1
  uint32_t dirPoolUsed = 0;
  uint32_t dirPoolSize = 0;
  uint32_t programDir = 0;
  uint32_t defaultDir = 0;
  uint32_t tempDir = 0;  // 0: temporary names go to the current directory
  int32_t tempCounter = 0;
};

// The one instance (state.cpp); a plain object so that hot paths reach it
// without a guard.
extern FoundationState gFoundationState __attribute__((visibility("hidden")));
inline FoundationState& State() { return gFoundationState; }

}  // namespace layerio
