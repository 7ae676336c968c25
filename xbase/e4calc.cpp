// Calcs: named expressions that other expressions call like functions.
#include <cstring>

#include "platform/env.h"
#include "xbase/d4all.h"
#include "xbase/e4state.h"

namespace {

constexpr unsigned kMaxName = 19;
// Compiling a calc compiles the calcs it names; a ring of names would never end.
constexpr int kMaxNesting = 16;

bool SameName(const EXPR4CALC* calc, const char* name, unsigned length) {
  if (length > kMaxName) length = kMaxName;
  if (std::strlen(calc->name) != length) return false;
  for (unsigned i = 0; i < length; i++) {
    if (calc->name[i] != platform::AsciiUpper(name[i])) return false;
  }
  return true;
}

}  // namespace

EXPR4CALC* expr4calcCreate(CODE4* c4, EXPR4* expr, const char* name) {
  if (c4 == nullptr || expr == nullptr || name == nullptr) {
    error4(c4, e4parmNull, E4_EXPR4CALC_CREATE);
    return nullptr;
  }
  auto* calc = static_cast<EXPR4CALC*>(u4allocEr(c4, sizeof(EXPR4CALC)));
  if (calc == nullptr) return nullptr;
  unsigned i = 0;
  for (; i < kMaxName && name[i] != 0; i++) calc->name[i] = platform::AsciiUpper(name[i]);
  calc->name[i] = 0;
  calc->expr = expr;
  l4add(&c4->calcList, calc);
  return calc;
}

EXPR4CALC* expr4calcLookup(CODE4* c4, DATA4* data, const char* name, unsigned nameLen) {
  thread_local int nesting = 0;
  if (c4 == nullptr || name == nullptr) return nullptr;
  for (auto* calc = static_cast<EXPR4CALC*>(l4first(&c4->calcList)); calc;
       calc = static_cast<EXPR4CALC*>(l4next(&c4->calcList, calc))) {
    if (!SameName(calc, name, nameLen)) continue;
    if (nesting >= kMaxNesting) return nullptr;
    nesting++;
    EXPR4* fresh = expr4parse(data != nullptr ? data : calc->expr->data, calc->expr->source, nullptr);
    nesting--;
    if (fresh == nullptr) return nullptr;
    expr4free(calc->expr);
    calc->expr = fresh;
    return calc;
  }
  return nullptr;
}

void expr4calcDelete(CODE4* c4, EXPR4CALC* calc) {
  if (c4 == nullptr || calc == nullptr) return;
  l4remove(&c4->calcList, calc);
  expr4free(calc->expr);
  u4free(calc);
}

int expr4calcReset(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_EXPR4CALC_RESET);
  while (auto* calc = static_cast<EXPR4CALC*>(l4first(&c4->calcList))) expr4calcDelete(c4, calc);
  return 0;
}
