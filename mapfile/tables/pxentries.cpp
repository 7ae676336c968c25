// The exported entries of Layerio's frame, in ordinal order (include/layerio.h
// keeps the ordinal table; the other entries live beside their work). Each
// is one frame around its work: InitCall, TableCall with its handle checks,
// or Unguarded (frame.h).
#include <cstring>

#include "mapfile/tables/frame.h"

using layerio::Guard;
using layerio::InitCall;
using layerio::Unguarded;

namespace {

constexpr uint16_t kFail = 0;
constexpr size_t kCharsetNameSize = 40;

}  // namespace

// 101
LAYERIO_API int32_t PXGetCharsetName(int32_t code, char* name) {
  if (!layerio::Initialised()) return -1;
  return Unguarded(int32_t{-1}, [&]() -> int32_t {
    int32_t current = layerio::CharsetSystem();
    if (name) {
      std::memset(name, 0, kCharsetNameSize);
      std::strncpy(name, layerio::CharsetName(code == -1 ? current : code),
                   kCharsetNameSize - 1);
    }
    return current;
  });
}

// 111
LAYERIO_API uint16_t PXToggleFatalErrors(uint16_t flag) { return layerio::TrapToggle(flag); }

// 121: reads the record without clearing it.
LAYERIO_API int32_t PXGetLastError(void) {
  const layerio::InterfaceState& s = layerio::Interface();
  if (!layerio::Initialised()) return s.refused ? layerio::kErrInitRefused : layerio::kErrNotInitialised;
  return Guard(int32_t{layerio::kErrInternal}, [] { return layerio::ErrorLastCode(); }, false);
}

// 124
LAYERIO_API uint16_t PXGetLibraryVersion(uint32_t* major, uint32_t* minor, uint32_t* patch) {
  uint32_t* out[3] = {major, minor, patch};
  for (int i = 0; i < 3; ++i)
    if (out[i]) *out[i] = layerio::kLibraryVersion[i];
  return 1;
}

// 133
LAYERIO_API uint16_t PXInitialize(uint32_t interfaceNumber) {
  return Unguarded(kFail, [&] { return layerio::InterfaceInitialize(interfaceNumber); });
}

// 139: the charset of the library's texts. Open tables hold texts and keys
// made in the current one, so the change waits until every table is closed.
LAYERIO_API uint16_t PXSetCharset(int32_t code) {
  return InitCall(kFail, [&]() -> uint16_t {
    if (layerio::SlotsInUse() > 0) {
      layerio::ErrorPush(layerio::kErrorSeverity, layerio::kErrCharsetTablesOpen, nullptr,
                         nullptr);
      return 0;
    }
    if (code < 0 || code >= layerio::kCharsetCount) {
      layerio::ErrorPush(layerio::kErrorSeverity, layerio::kErrCharsetCode, nullptr, nullptr);
      return 0;
    }
    layerio::CharsetSetSystem(code);
    layerio::State().charsetReady = true;
    return layerio::NormTablesInit() ? 1 : 0;
  });
}

// 140
LAYERIO_API uint16_t PXSetRawText(uint16_t flag) { return layerio::Interface().rawText = flag; }

// 142
LAYERIO_API uint16_t PXShutdown(void) {
  return Unguarded(kFail, [] { return layerio::InterfaceShutdown(); });
}

// 151
LAYERIO_API uint16_t PXGetDatumMode(void) { return layerio::DatumShiftMethod(); }

// 152
LAYERIO_API uint16_t PXSetDatumMode(uint16_t mode) {
  layerio::SetDatumShiftMethod(mode);
  return mode;
}
