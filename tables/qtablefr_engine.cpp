#include "tables/qtablefr_engine.h"

#include "xbase/error4.h"
#include "xbase/index4.h"

namespace frengine {

namespace {

CODE4* ContextOf(DATA4* data) { return data != nullptr ? data->codeBase : nullptr; }

int Refuse(CODE4* c4) { return error4(c4, e4notSupported, 0); }

}  // namespace

// The relation layer is not in the engine yet: no set is ever made, so the
// calls on a set only ever see null.
RELATE4* RelateInit(DATA4* data) {
  if (data == nullptr) {
    error4(nullptr, e4struct, 0);
    return nullptr;
  }
  Refuse(ContextOf(data));
  return nullptr;
}

int RelateSortSet(RELATE4* relation, const char*) { return relation ? e4notSupported : e4parmNull; }
int RelateSkipEnable(RELATE4* relation, int) { return relation ? e4notSupported : e4parmNull; }
int RelateTop(RELATE4* relation) { return relation ? e4notSupported : e4parmNull; }
int RelateBottom(RELATE4* relation) { return relation ? e4notSupported : e4parmNull; }
int RelateSkip(RELATE4* relation, long) { return relation ? e4notSupported : e4parmNull; }
int RelateEof(RELATE4* relation) { return relation ? e4notSupported : e4parmNull; }
int RelateFree(RELATE4*) { return 0; }

int Seek(DATA4* data, const char* key) { return d4seek(data, key); }

int TagAdd(INDEX4* index, const TAG4INFO* tags) { return i4tagAdd(index, tags); }

}  // namespace frengine
