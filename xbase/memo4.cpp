#include "xbase/memo4.h"

#include <cstring>

#include "platform/endian.h"
#include "xbase/code4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/file4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/util4.h"

namespace {

constexpr uint64_t kHeaderBytes = 512;
constexpr uint32_t kTextEntry = 1;
constexpr uint64_t kUnknownLength = ~uint64_t(0);

// What a memo field answers while nothing is allocated.
char kEmpty[2] = {0, 0};

// The first block past the header.
uint64_t FirstBlock(uint64_t blockSize) { return (kHeaderBytes + blockSize - 1) / blockSize; }

int Corrupt(MEMO4FILE* memo) {
  return error4describe(memo->file.codeBase, e4memoCorrupt, E4_MEMO_CORRUPT, memo->file.name, nullptr,
                        nullptr);
}

CODE4* Context(FIELD4* field) { return field->data->codeBase; }
MEMO4FILE* MemoFileOf(FIELD4* field) { return &field->data->dataFile->memoFile; }

// The block number the record holds for the field.
long BlockOf(FIELD4* field) {
  long block = f4long(field);
  return block < 0 ? 0 : block;
}

void Unallocate(F4MEMO* m) {
  if (m->capacity > 0) u4free(m->text);
  m->text = kEmpty;
  m->capacity = 0;
}

void Terminate(F4MEMO* m) {
  if (m->capacity > 0) m->text[m->size] = m->text[m->size + 1] = 0;
}

// Reads the field's contents for the current record.
int ReadContents(FIELD4* field) {
  CODE4* c4 = Context(field);
  if (c4->errorCode < 0) return -1;
  F4MEMO* m = field->memo;
  MEMO4FILE* file = MemoFileOf(field);
  long block = BlockOf(field);
  if (file->file.handle < 0) {
    if (block > 0) {
      return error4describe(c4, e4memoCorrupt, E4_F4MEMO_READ_LOW, field->data->dataFile->fullName,
                            nullptr, nullptr);
    }
    m->size = 0;
    m->mustRead = 0;
    return 0;
  }
  char* const held = m->capacity > 0 ? m->text : nullptr;
  char* text = held;
  uint32_t length = m->capacity, type = 0;
  int rc = memo4fileRead(file, block, &text, &length, 0, k4memoMaxLen, &type);
  if (rc < 0) {
    if (text != held) {
      // The old contents were given up for a larger block.
      u4free(text);
      m->text = kEmpty;
      m->capacity = 0;
    }
    m->size = 0;
    m->mustRead = 1;  // a later access reads again
    return rc;
  }
  if (length > m->capacity) m->capacity = length;
  m->text = m->capacity > 0 ? text : kEmpty;
  m->size = length;
  m->mustRead = 0;
  Terminate(m);
  return 0;
}

// Makes room for n bytes of contents and marks them assigned.
int SetLength(FIELD4* field, uint32_t n) {
  CODE4* c4 = Context(field);
  F4MEMO* m = field->memo;
  if (c4->errorCode < 0 || m == nullptr) return -1;
  if (m->capacity < n) {
    Unallocate(m);
    auto* text = static_cast<char*>(u4allocEr(c4, long(n) + 2));
    if (text == nullptr) {
      m->mustRead = 1;
      return e4memory;
    }
    m->text = text;
    m->capacity = n;
  }
  m->size = n;
  Terminate(m);
  m->mustRead = 0;
  m->dirty = 1;
  field->data->recordChanged = 1;
  return 0;
}

// Checks a memo field argument: 0 when it may be used, else the result.
int FieldCheck(FIELD4* field, long location) {
  if (field == nullptr) return error4(nullptr, e4parmNull, location);
  if (code4verify(field, 3, location)) return -1;
  if (Context(field)->errorCode < 0) return -1;
  return 0;
}

}  // namespace

// ---- the memo file ----

uint32_t memo4blockSize(const MEMO4FILE* memo) {
  uint32_t size = uint16_t(memo->blockSize);
  return size == 0 ? 1 : size;
}

int memo4fileOpen(MEMO4FILE* memo, DATA4FILE* data, const char* name) {
  memo->data = data;
  if (file4open(&memo->file, data->c4, name, 1) != 0) return -1;
  file4optimize(&memo->file, data->c4->optimizeDefault, 3, 0, memo);
  unsigned char header[8];
  if (file4readAll(&memo->file, 0, header, sizeof header) != 0) {
    file4close(&memo->file);
    return -1;
  }
  memo->blockSize = int16_t(QLoadU16BE(header + 6));
  return 0;
}

int memo4fileClose(MEMO4FILE* memo) {
  int rc = 0;
  if (memo->file.handle >= 0) rc = file4close(&memo->file);
  memo->data = nullptr;
  return rc;
}

int memo4fileCreate(MEMO4FILE* memo, CODE4* c4, DATA4FILE* data, const char* name) {
  memo->data = data;
  if (c4->memSizeBlock < 1 || c4->memSizeBlock > 0xFFFF || name == nullptr) {
    return error4(c4, e4parm, E4_MEMO4FILE_CREATE);
  }
  memo->blockSize = int16_t(uint16_t(c4->memSizeBlock));
  uint32_t blockSize = memo4blockSize(memo);
  unsigned char header[8] = {0};
  QStoreU32BE(header, uint32_t(blockSize <= kHeaderBytes ? FirstBlock(blockSize) : 1));
  QStoreU16BE(header + 6, blockSize);
  char fileName[259];
  u4ncpy(fileName, name, sizeof fileName - 4);
  if (u4nameExt(fileName, sizeof fileName, code4memoExtension(c4), 1) != 0) {
    return error4describe(c4, e4memoCreate, E4_MEMO4FILE_CREATE, name, nullptr, nullptr);
  }
  int rc = file4create(&memo->file, c4, fileName, 1);
  if (rc != 0) return rc;
  rc = file4write(&memo->file, 0, header, sizeof header);
  if (rc == 0) rc = file4lenSet(&memo->file, kHeaderBytes);
  return rc;
}

int memo4fileRead(MEMO4FILE* memo, long block, char** contents, uint32_t* length, uint32_t offset,
                  uint32_t maximum, uint32_t* type) {
  CODE4* c4 = memo->file.codeBase;
  if (block < 1) {
    *length = 0;
    return 0;
  }
  uint64_t size = file4len(&memo->file);
  if (size == kUnknownLength) return -1;
  uint64_t at = uint64_t(block) * memo4blockSize(memo);
  // A block number inside the header or past the end is a damaged record.
  if (at < kHeaderBytes || at + 8 > size) return Corrupt(memo);
  unsigned char header[8];
  if (file4readAll(&memo->file, at, header, sizeof header) != 0) return -1;
  uint32_t entryLength = QLoadU32BE(header + 4);
  if (entryLength > k4memoMaxLen || at + 8 + entryLength > size) return Corrupt(memo);
  uint64_t n = entryLength > offset ? entryLength - offset : 0;
  if (n > maximum) n = maximum;
  if (n > *length) {
    if (*length > 0) u4free(*contents);
    *contents = static_cast<char*>(u4allocEr(c4, long(n) + 2));
    if (*contents == nullptr) {
      *length = 0;
      return e4memory;
    }
  }
  if (n > 0 && file4readAll(&memo->file, at + 8 + offset, *contents, uint32_t(n)) != 0) {
    *length = 0;
    return -1;
  }
  *length = uint32_t(n);
  if (type) *type = QLoadU32BE(header);
  return 0;
}

int memo4fileWrite(MEMO4FILE* memo, long* block, const char* data, uint32_t length) {
  return memo4fileWritePart(memo, block, data, length, 0, length, kTextEntry);
}

int memo4fileWritePart(MEMO4FILE* memo, long* block, const char* data, uint32_t total,
                       uint32_t offset, uint32_t part, uint32_t type) {
  FILE4* file = &memo->file;
  const uint64_t blockSize = memo4blockSize(memo);
  if (offset != 0) {
    uint64_t at = uint64_t(*block) * blockSize + 8 + offset;
    return file4write(file, at, data, part) < 0 ? -1 : 0;
  }
  if (total == 0) {
    *block = 0;
    return 0;
  }
  if (total > k4memoMaxLen || part > total) return error4(file->codeBase, e4parm, E4_MEMO4FILE_WRITE_PART);
  uint64_t size = file4len(file);
  if (size == kUnknownLength) return -1;
  const uint64_t needed = (blockSize + total + 7) / blockSize;
  bool inPlace = false;
  if (*block > 0) {
    // Rewritten in place only when the old entry is sound and big enough:
    // a damaged length must not let the new contents run over other entries.
    uint64_t at = uint64_t(*block) * blockSize;
    unsigned char old[8];
    if (at >= kHeaderBytes && at + 8 <= size && file4read(file, at, old, 8) == 8) {
      uint64_t oldLength = QLoadU32BE(old + 4);
      uint64_t held = (blockSize + oldLength + 7) / blockSize;
      inPlace = oldLength <= k4memoMaxLen && at + 8 + oldLength <= size && held >= needed;
    }
    if (file->codeBase->errorCode < 0) return -1;
  }
  if (!inPlace) {
    unsigned char header[8];
    if (file4read(file, 0, header, sizeof header) != sizeof header) {
      return file4readError(file, 0, sizeof header, "memo4fileWritePart");
    }
    uint64_t next = QLoadU32BE(header);
    // The next free block lies past the header and at or past the last entry.
    if (next < FirstBlock(blockSize) || next * blockSize < size || next + needed > 0xFFFFFFFFu) {
      return Corrupt(memo);
    }
    QStoreU32BE(header, uint32_t(next + needed));
    if (file4write(file, 0, header, sizeof header) < 0) return -1;
    *block = long(next);
  }
  uint64_t at = uint64_t(*block) * blockSize;
  unsigned char header[8];
  QStoreU32BE(header, type);
  QStoreU32BE(header + 4, total);
  if (file4write(file, at, header, sizeof header) < 0) return -1;
  if (part > 0 && file4write(file, at + 8, data, part) < 0) return -1;
  uint64_t end = at + 8 + total;
  if (end > size && end % blockSize != 0) {
    if (file4lenSet(file, (end + blockSize - 1) / blockSize * blockSize) < 0) return -1;
  }
  return 0;
}

// ---- memo fields ----

int f4memoAssign(FIELD4* field, const char* text) {
  if (field == nullptr) return error4(nullptr, e4parmNull, E4_F4MEMO_ASSIGN);
  return f4memoAssignN(field, text, text ? unsigned(std::strlen(text)) : 0);
}

int f4memoAssignN(FIELD4* field, const char* text, unsigned length) {
  if (int rc = FieldCheck(field, E4_F4MEMO_ASSIGN_N)) return rc;
  CODE4* c4 = Context(field);
  if (length > k4memoMaxLen) return error4(c4, e4memory, E4_MEMO_SIZE);
  if (text == nullptr && length > 0) return error4(c4, e4parmNull, E4_F4MEMO_ASSIGN_N);
  if (field->memo == nullptr) {
    f4assignN(field, text, length);
    return c4->errorCode < 0 ? c4->errorCode : 0;
  }
  if (field->data->dataFile->compatibility == k4dialectFox) f4changed(field);
  if (int rc = SetLength(field, length)) return rc;
  if (length > 0) std::memcpy(field->memo->text, text, length);
  return 0;
}

int f4memoRead(FIELD4* field) {
  if (field == nullptr) return error4(nullptr, e4parmNull, E4_F4MEMO_READ);
  if (Context(field)->errorCode < 0) return -1;
  F4MEMO* m = field->memo;
  if (m == nullptr) return 0;
  m->dirty = 0;
  if (field->data->recNum < 0) {
    m->size = 0;
    m->mustRead = 0;
    return 0;
  }
  return ReadContents(field);
}

unsigned f4memoLen(FIELD4* field) {
  if (field == nullptr) {
    error4(nullptr, e4parmNull, E4_F4MEMO_LEN);
    return 0;
  }
  if (code4verify(field, 3, E4_F4MEMO_LEN)) return 0;
  F4MEMO* m = field->memo;
  if (m == nullptr) return field->len;
  if (m->mustRead && f4memoRead(field) < 0) return 0;
  return m->size;
}

char* f4memoPtr(FIELD4* field) {
  if (field == nullptr) {
    error4(nullptr, e4parmNull, E4_F4MEMO_PTR);
    return nullptr;
  }
  if (code4verify(field, 3, E4_F4MEMO_PTR)) return nullptr;
  F4MEMO* m = field->memo;
  if (m == nullptr) return f4ptr(field);
  if (m->mustRead && f4memoRead(field) < 0) return nullptr;
  return m->capacity > 0 ? m->text : kEmpty;
}

int f4memoFree(FIELD4* field) {
  if (field == nullptr) return error4(nullptr, e4parmNull, E4_F4MEMO_FREE);
  if (F4MEMO* m = field->memo) {
    Unallocate(m);
    m->size = 0;
    m->dirty = 0;
    m->mustRead = 1;
  }
  return 0;
}

int f4memoWrite(FIELD4* field) {
  CODE4* c4 = Context(field);
  if (c4->errorCode < 0) return -1;
  F4MEMO* m = field->memo;
  if (m == nullptr) return 0;
  MEMO4FILE* file = MemoFileOf(field);
  if (file->file.handle < 0) {
    return error4describe(c4, e4write, E4_MEMO_NOT_OPEN, field->data->dataFile->fullName, nullptr,
                          nullptr);
  }
  long block = BlockOf(field);
  long written = block;
  int rc = memo4fileWrite(file, &written, m->capacity > 0 ? m->text : kEmpty, m->size);
  if (rc < 0) return rc;
  if (written != block) {
    if (written != 0) {
      f4assignLong(field, written);
    } else {
      f4blank(field);
    }
  }
  m->dirty = 0;
  return 0;
}

void f4memoReset(FIELD4* field) {
  F4MEMO* m = field->memo;
  if (m == nullptr) return;
  if (m->capacity == 0) m->text = kEmpty;
  m->size = 0;
  m->dirty = 0;
  m->mustRead = 1;
}

void d4memoReset(DATA4* data) {
  for (int i = 0; i < data->nFieldsMemo; i++) f4memoReset(data->fieldsMemo[i].field);
}

void d4memoFree(DATA4* data) {
  for (int i = 0; i < data->nFieldsMemo; i++) f4memoFree(data->fieldsMemo[i].field);
}
