// The C interface of Zonelib: each exported function is its frame (cframe.h)
// around the internal body that does the work.
#include "zonelib.h"


#include "boundary/cframe.h"
#include "boundary/mainintn.h"

namespace {

constexpr int32_t kNotAContextCode = 109;
constexpr const char* kNotAContextMessage = "Handle is not recognized";
constexpr const char* kNotAContextDetail =
    "attempted call to pipErrorGet with invalid handle as first parameter";

int32_t NotAContext(char* message, char* detail) {
  if (message) StrFormat(message, kPipErrorTextSize, "%s", kNotAContextMessage);
  if (detail) StrFormat(detail, kPipErrorTextSize, "%s", kNotAContextDetail);
  return kNotAContextCode;
}

}  // namespace

// ---- Library context and errors ------------------------------------------

ZONELIB_API int32_t pipInit(uint32_t number, const char* text) {
  return Guarded(int32_t{0}, [&] {
    pipContext* context = nullptr;
    return pipInitIntern(number, text, &context) == 1 ? int32_t(AdoptHandle(context)) : 0;
  });
}

ZONELIB_API int32_t pipTerm(uint32_t context) {
  return DestroyHandle<pipContext>(context, pipTermIntern);
}

ZONELIB_API int32_t pipErrorGet(uint32_t context, char* message, char* detail) {
  return WithHandleOr<pipContext>(
      context, int32_t{-1}, [&] { return NotAContext(message, detail); },
      [&](pipContext& c) { return pipErrorGetIntern(&c, message, detail); });
}

ZONELIB_API int32_t pipErrorShow(uint32_t context, int32_t mode) {
  return WithHandle<pipContext>(context, int32_t{0},
                                [&](pipContext& c) { return pipErrorShowIntern(&c, mode); });
}

ZONELIB_API int32_t pipGetVersion(char* buffer) {
  return Guarded(int32_t{-1}, [&] { return pipGetVersionIntern(buffer); });
}
