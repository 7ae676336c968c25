#include "xbase/memo4.h"

#include <cstring>

#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"

namespace {
uint16_t LoadU16BE(const unsigned char* p) { return uint16_t((p[0] << 8) | p[1]); }
}  // namespace

int memo4fileOpen(MEMO4FILE* memo, DATA4FILE* data, const char* name) {
  memo->data = data;
  if (file4open(&memo->file, data->c4, name, 1) != 0) return -1;
  file4optimize(&memo->file, data->c4->optimizeDefault, 3, 0, memo);
  unsigned char header[8];
  if (file4readAll(&memo->file, 0, header, sizeof header) != 0) {
    file4close(&memo->file);
    return -1;
  }
  // The block size stands big-endian at offset 6 of the memo file's header.
  memo->blockSize = int16_t(LoadU16BE(header + 6));
  return 0;
}

int memo4fileClose(MEMO4FILE* memo) {
  int rc = 0;
  if (memo->file.handle >= 0) rc = file4close(&memo->file);
  memo->data = nullptr;
  return rc;
}

void f4memoReset(FIELD4* field) {
  F4MEMO* memo = field->memo;
  if (memo == nullptr) return;
  u4free(memo->text);
  memo->text = nullptr;
  memo->size = memo->capacity = 0;
  memo->dirty = 0;
  memo->mustRead = 1;
}

void d4memoReset(DATA4* data) {
  for (int i = 0; i < data->nFieldsMemo; i++) f4memoReset(data->fieldsMemo[i].field);
}

void d4memoFree(DATA4* data) { d4memoReset(data); }
