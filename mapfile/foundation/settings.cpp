// The parser-state snapshot around nested statements, the unary minus of
// values and the comparison of doubles to a number of digits.
#include <cmath>
#include <cstring>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/state.h"

namespace layerio {

uint8_t ParseMode() { return State().parser.parseMode; }
void SetParseMode(uint8_t mode) { State().parser.parseMode = mode; }

void SettingsSnapshotSave(SettingsSnapshot* record) {
  ParserVariables& v = State().parser;
  std::memcpy(&record->saved, &v, sizeof v);
  // A clean state for the nested run; the token words and the parser block
  // keep their values (they are restored all the same).
  v.inputSource = nullptr;
  std::memset(v.inputWords, 0, sizeof v.inputWords);
  std::memset(v.shortWords, 0, sizeof v.shortWords);
  v.currentToken = nullptr;
  v.parseMode = 0;
  v.statementByte = 1;
  v.statementWord = 9999;
  std::memset(v.statementWords, 0, sizeof v.statementWords);
}

void SettingsSnapshotRestore(const SettingsSnapshot* record) {
  std::memcpy(&State().parser, &record->saved, sizeof record->saved);
}

int16_t ValueNegate(Value* result, const Value* operand) {
  Value out{};
  int16_t ok = 1;
  switch (operand->kind) {
    case kValueInteger:
    case kValueSmallInt: {
      int32_t n = operand->kind == kValueInteger ? operand->u.i : operand->u.s;
      if (n == INT32_MIN) {
        // 2147483648 has no 32-bit form: it becomes a decimal, not a wrong sign
        out.kind = kValueDecimal;
        out.u.d = -double(n);
      } else {
        out.kind = kValueInteger;
        out.u.i = -n;
      }
      break;
    }
    case kValueFloat:
    case kValueDecimal:
      out.kind = kValueDecimal;
      out.u.d = -operand->u.d;
      break;
    default:
      ErrorPush(kErrorSeverity, 306, nullptr, nullptr);
      out.kind = kValueInteger;
      out.u.i = 0;
      ok = 0;
      break;
  }
  *result = out;
  return ok;
}

int16_t DoubleEqualDigits(double a, double b, int n) {
  if (a == b) return 1;
  int ea = 0, eb = 0;
  double ma = std::frexp(a, &ea);
  double mb = std::frexp(b, &eb);
  if (ea != eb) return 0;
  double d = std::fabs(ma - mb);
  double t = std::pow(10.0, -(n + 1));
  if (ma == 0) return mb == 0 || d < t ? 1 : 0;
  if (mb == 0) return d < t ? 1 : 0;
  return std::fabs(d / ma) < t && std::fabs(d / mb) < t ? 1 : 0;
}

int16_t DoubleNearlyEqual(double a, double b) { return DoubleEqualDigits(a, b, 14); }

}  // namespace layerio
