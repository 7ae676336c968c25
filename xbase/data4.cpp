#include "xbase/data4.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/dbfheader.h"
#include "platform/endian.h"
#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/file4.h"
#include "xbase/index4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/memo4.h"
#include "xbase/opt4.h"
#include "xbase/tran4.h"
#include "xbase/util4.h"

namespace {

constexpr int kHeaderSize = int(dbfheader::kHeaderSize);
constexpr int kDescriptorSize = int(dbfheader::kDescriptorSize);

bool IsFox(const DATA4FILE* file) { return file->compatibility == k4dialectFox; }

bool IsNullFlagsName(const dbfheader::Descriptor& descriptor) {
  char name[11];
  std::memcpy(name, descriptor.name, 10);
  name[10] = 0;
  return platform::AsciiEqualsIgnoreCase(name, "_NullFlags");
}

// A descriptor's length and decimals as the engine takes them; false for a
// type it refuses (code and location in *error).
struct FieldShape {
  char type;
  unsigned len;
  unsigned dec;
  unsigned counted;  // what it adds to the record length
  bool memo;
};

bool ShapeOf(const CODE4* c4, bool fox, const dbfheader::Descriptor& d, FieldShape* shape,
             int* error) {
  char type = platform::AsciiUpper(d.type);
  unsigned width = d.width, dec = d.decimals;
  shape->type = type;
  shape->memo = false;
  *error = 0;
  switch (type) {
    case 'C': case 'O': case 'W':
    case '1': case '2': case '3': case '4': case '5': case '6':
    case 'P': case 'Q': case 'R': case 'V':
      shape->len = width + dec * 256;
      shape->dec = 0;
      shape->counted = (type == 'C' || type == 'O' || type == 'W') ? shape->len : width;
      return true;
    case 'D': case 'I': case 'L':
      shape->len = width;
      shape->dec = 0;
      shape->counted = width;
      return true;
    // Date-time and currency columns are read in a dBASE III table too, as
    // other dBASE readers read them: their bytes are the same.
    case 'T': case 'Y':
    case 'N': case 'F':
      shape->len = width;
      shape->dec = dec;
      shape->counted = width;
      return true;
    case 'M': case 'G':
      shape->len = width;
      shape->dec = 0;
      shape->counted = width;
      shape->memo = true;
      return true;
    case 'B':
      if (!fox && c4->doubleField != 1) break;
      shape->len = width;
      shape->dec = dec;
      shape->counted = width;
      return true;
    case '0':
      if (!fox || !IsNullFlagsName(d)) break;
      shape->len = width + dec * 256;
      shape->dec = 0;
      shape->counted = width;
      return true;
    default:
      *error = e4fieldType;
      return false;
  }
  *error = e4data;
  return false;
}

// The bytes a field's value takes where the accessors read and write it
// whole (binary numbers, dates): a narrower field would take them from the
// fields after it, or from past the record.
unsigned ValueWidth(char type) {
  switch (type) {
    case 'B': case 'D': case 'T': case 'Y':
      return 8;
    case 'I': case 'P':
      return 4;
    case 'Q': case 'R':
      return 2;
    default:
      return 0;
  }
}

int Corrupt(CODE4* c4, long location, const char* name) {
  return error4describe(c4, e4data, location, name, nullptr, nullptr);
}

// Reads and checks the header and descriptors; 0 or the error reported.
int ReadHeader(DATA4FILE* file, const char* name) {
  CODE4* c4 = file->c4;
  unsigned char header[kHeaderSize];
  if (file4readAll(&file->file, 0, header, sizeof header) != 0) return -1;
  dbfheader::Header head;
  dbfheader::DecodeHeader(header, sizeof header, &head);
  file->version = head.version;
  if (file->version == '1') {
    static const unsigned char kAutoMark[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    if (std::memcmp(header + 12, kAutoMark, 8) != 0) return Corrupt(c4, E4_TABLE_VERSION, name);
    file->version = '0';
    file->canAutoIncrement = 1;
    // The next autoincrement value follows the mark.
    file->autoIncrementVal = QLoadF64LE(header + 20);
    if (!(file->autoIncrementVal >= 1.0 && file->autoIncrementVal < 9.0e15)) file->autoIncrementVal = 1.0;
  }
  bool fox = file->version == '0';
  if (fox) {
    file->compatibility = k4dialectFox;
  } else {
    file->compatibility = c4->compatibility == k4dialectFox ? k4dialectDbase3 : c4->compatibility;
  }
  std::memcpy(file->yymmdd, head.updated, 3);
  uint32_t count = head.recordCount;
  file->headerLen = head.headerLength;
  file->recWidth = head.recordLength;
  file->tableFlags = head.tableFlags;
  file->codePage = head.codePage;
  bool large = c4->largeFileLimit != 0;
  if (file->recWidth == 0) return Corrupt(c4, E4_DATA_CORRUPT, name);
  uint64_t length = file4len(&file->file);
  if (length == ~uint64_t(0)) return -1;
  if (!large) {
    if (count == 0xFFFFFFFFu) return Corrupt(c4, E4_DATA_CORRUPT, name);
    uint64_t fit = length > file->headerLen ? (length - file->headerLen) / file->recWidth : 0;
    if (fit > 0xFFFFFFFFu) return Corrupt(c4, E4_DATA_CORRUPT, name);
    if ((c4->recCountCheck == 1 || c4->recCountCheck == 2) && fit != count) {
      return Corrupt(c4, E4_DATA_CORRUPT, name);
    }
  }
  if (file->headerLen <= kHeaderSize) return Corrupt(c4, E4_DATA_CORRUPT, name);
  file->infoLen = file->headerLen - kHeaderSize;
  file->info = static_cast<unsigned char*>(u4allocEr(c4, long(file->infoLen)));
  if (file->info == nullptr) return e4memory;
  if (file4read(&file->file, kHeaderSize, file->info, file->infoLen) != file->infoLen) {
    if (c4->errorCode < 0) return c4->errorCode;
    return Corrupt(c4, E4_SHORT_HEADER, name);
  }
  // Descriptors up to the end mark, each wholly inside the header.
  const dbfheader::Scan scan = dbfheader::ScanDescriptors(file->info, file->infoLen, SIZE_MAX, true);
  if (scan.end != dbfheader::ScanEnd::kMark) return Corrupt(c4, E4_DATA_CORRUPT, name);
  const unsigned slots = unsigned(scan.count);
  file->nFields = int(slots);
  uint64_t sum = 1;
  long misfit = 0;  // a field that does not fit its value or the record
  for (unsigned i = 0; i < slots; i++) {
    FieldShape shape;
    int error;
    dbfheader::Descriptor d;
    dbfheader::DecodeDescriptor(file->info + i * kDescriptorSize, kDescriptorSize, &d);
    if (!ShapeOf(c4, fox, d, &shape, &error)) {
      return error4describe(c4, error, E4_INVALID_FIELD_TYPE, name, nullptr, nullptr);
    }
    if (misfit == 0 && shape.len < ValueWidth(shape.type)) misfit = E4_DATA_CORRUPT;
    // A length beyond the bytes the field counts must still end in the record.
    if (misfit == 0 && sum + shape.len > file->recWidth) misfit = E4_DFILE4;
    if (shape.memo) file->nFieldsMemo++;
    sum += shape.counted;
  }
  // Fields must lie inside the record even where the length need not match.
  if (sum > file->recWidth || (!large && sum != file->recWidth)) {
    return Corrupt(c4, E4_DFILE4, name);
  }
  if (misfit != 0) return Corrupt(c4, misfit, name);
  file->numRecs = long(count);
  file->minCount = -1;
  file->maxRecs = long((4294967295ul - file->headerLen) / file->recWidth) - 10;
  return 0;
}

void ReleaseFile(DATA4FILE* file) {
  CODE4* c4 = file->c4;
  u4free(file->info);
  u4free(file->fullName);
  if (file->memoFile.file.handle >= 0) memo4fileClose(&file->memoFile);
  if (file->file.handle >= 0) file4close(&file->file);
  mem4free(c4->dataFileMemory, file);
}

// Builds the FIELD4 array, the record buffers and the memo entries.
int BuildHandle(DATA4* data) {
  CODE4* c4 = data->codeBase;
  DATA4FILE* file = data->dataFile;
  bool fox = IsFox(file);
  unsigned width = file->recWidth;
  data->nFields = file->nFields;
  if (file->nFields > 0) {
    data->fields = static_cast<FIELD4*>(u4allocEr(c4, long(sizeof(FIELD4)) * file->nFields));
    if (data->fields == nullptr) return e4memory;
  }
  data->record = static_cast<char*>(u4allocEr(c4, long(width) + 1));
  data->recordOld = static_cast<char*>(u4allocEr(c4, long(width) + 1));
  data->recordBlank = static_cast<char*>(u4allocEr(c4, long(width) + 1));
  if (!data->record || !data->recordOld || !data->recordBlank) return e4memory;
  if (file->nFieldsMemo > 0) {
    data->fieldsMemo = static_cast<F4MEMO*>(u4allocEr(c4, long(sizeof(F4MEMO)) * file->nFieldsMemo));
    if (data->fieldsMemo == nullptr) return e4memory;
  }
  uint32_t offset = 1;
  int nullable = 0, memo = 0;
  for (int i = 0; i < file->nFields; i++) {
    dbfheader::Descriptor d;
    dbfheader::DecodeDescriptor(file->info + i * kDescriptorSize, kDescriptorSize, &d);
    FIELD4* field = &data->fields[i];
    FieldShape shape;
    int error;
    ShapeOf(c4, fox, d, &shape, &error);
    size_t n = 0;
    while (n < 10 && d.name[n] != 0) n++;
    std::memcpy(field->name, d.name, n);
    while (n > 0 && field->name[n - 1] == ' ') n--;
    field->name[n] = 0;
    for (size_t k = 0; k < n; k++) field->name[k] = platform::AsciiUpper(field->name[k]);
    field->type = uint16_t(shape.type);
    field->len = uint16_t(shape.len);
    field->dec = uint16_t(shape.dec);
    field->offset = offset;
    offset += shape.counted;
    field->data = data;
    field->stamp = k4validStamp;
    unsigned char flags = d.flags;
    if (shape.type == '0') {
      data->nullFlags = field;
    } else if (fox && (flags & 0x02)) {
      field->null = 1;
      field->nullBit = uint16_t(nullable / 8);
      field->nullMask = static_cast<uint8_t>(1u << (nullable % 8));
      nullable++;
    }
    if (fox && (flags & 0x04)) {
      field->binary = 1;
    } else if (fox && shape.memo) {
      field->binary = 2;
    }
    if (fox && (flags & 0x08)) {
      field->autoIncrement = 1;
      if (file->canAutoIncrement) file->autoIncrementField = field;
    }
    if (shape.memo) {
      F4MEMO* entry = &data->fieldsMemo[memo++];
      entry->field = field;
      entry->mustRead = 1;
      field->memo = entry;
    }
  }
  data->nFieldsMemo = memo;
  // The null-flags field must hold a bit for every nullable field.
  if (data->nullFlags == nullptr || unsigned(nullable + 7) / 8 > data->nullFlags->len) {
    for (int i = 0; i < data->nFields; i++) data->fields[i].null = 0;
  }
  // The blank record: each field's blank value, the deletion flag ' '.
  std::memset(data->record, ' ', width + 1);
  data->record[width] = 0;
  for (int i = 0; i < data->nFields; i++) f4blank(&data->fields[i]);
  data->record[0] = ' ';
  std::memcpy(data->recordBlank, data->record, width + 1);
  std::memcpy(data->recordOld, data->record, width + 1);
  data->recordChanged = 0;
  return 0;
}

void BlankWithSpaces(DATA4* data) {
  std::memset(data->record, ' ', data->dataFile->recWidth);
}

}  // namespace

int dfile4fullName(char* full, int size, const char* name) {
  char buffer[1024];
  if (u4ncpy(buffer, name, sizeof buffer - 8) < 0 || u4nameExt(buffer, sizeof buffer, "dbf", 0) != 0 ||
      u4nameCurrent(full, size, buffer) != 0) {
    return -1;
  }
  return 0;
}

DATA4FILE* dfile4findOpen(CODE4* c4, const char* full) {
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(full, &info) != 0) return nullptr;
  return code4dataFileFind(c4, info.device, info.inode);
}

uint64_t dfile4recordPosition(const DATA4FILE* file, long rec) {
  return uint64_t(file->headerLen) + uint64_t(rec - 1) * file->recWidth;
}

DATA4FILE* dfile4open(CODE4* c4, DATA4* data, const char* name) {
  if (c4->compatibility != k4dialectDbase3 && c4->compatibility != k4dialectDbase4 &&
      c4->compatibility != k4dialectFox) {
    error4(c4, e4open, E4_DFILE4);
    return nullptr;
  }
  char full[1024];
  if (dfile4fullName(full, sizeof full, name) != 0) {
    error4describe(c4, e4open, E4_DFILE4, name, nullptr, nullptr);
    return nullptr;
  }
  DATA4FILE* open = dfile4findOpen(c4, full);
  if (open != nullptr && open->userCount > 0) {
    bool share = !c4->singleOpen;
    if (!share && code4tranStatus(c4) == r4active) {
      share = true;
      for (auto* other = static_cast<DATA4*>(l4first(&c4->dataList)); other;
           other = static_cast<DATA4*>(l4next(&c4->dataList, other))) {
        if (other != data && other->dataFile == open) share = false;
      }
    }
    if (!share) {
      error4describe(c4, e4instance, E4_DFILE4, full, nullptr, nullptr);
      return nullptr;
    }
    open->userCount++;
    return open;
  }
  if (c4->dataFileMemory == nullptr) {
    c4->dataFileMemory =
        mem4create(c4, c4->memStartDataFile, sizeof(DATA4FILE), c4->memExpandDataFile, 0);
  }
  auto* file = c4->dataFileMemory ? static_cast<DATA4FILE*>(mem4alloc(c4->dataFileMemory)) : nullptr;
  if (file == nullptr) {
    error4(c4, e4memory, E4_DFILE4);
    return nullptr;
  }
  file->c4 = c4;
  file->file.handle = -1;
  file->memoFile.file.handle = -1;
  size_t n = std::strlen(full) + 1;
  file->fullName = static_cast<char*>(u4allocEr(c4, long(n)));
  if (file->fullName == nullptr) {
    ReleaseFile(file);
    return nullptr;
  }
  std::memcpy(file->fullName, full, n);
  if (file4open(&file->file, c4, full, 1) != 0) {
    ReleaseFile(file);
    return nullptr;
  }
  if (ReadHeader(file, full) != 0) {
    ReleaseFile(file);
    return nullptr;
  }
  file->readOnly = file->file.writeProtected ? 1 : 0;
  bool hasMemo = file->version == '0' ? (file->tableFlags & 0x02) != 0 : (file->version & 0x80) != 0;
  char memoName[1024];
  u4ncpy(memoName, full, sizeof memoName);
  bool memoNamed = u4nameExt(memoName, sizeof memoName, code4memoExtension(c4), 1) == 0;
  // Visual FoxPro tables written by other tools may leave the memo flag
  // clear: their memo fields use the memo file when there is one.
  platform::FileInfo memoInfo;
  if (!hasMemo && file->version == '0' && file->nFieldsMemo > 0 && memoNamed) {
    hasMemo = platform::Env::Current().PathStat(memoName, &memoInfo) == 0;
  }
  if (hasMemo) {
    if (!memoNamed || memo4fileOpen(&file->memoFile, file, memoName) != 0) {
      if (c4->errorCode >= 0) error4describe(c4, e4open, E4_DFILE4, memoName, nullptr, nullptr);
      ReleaseFile(file);
      return nullptr;
    }
  }
  file->userCount = 1;
  l4add(&c4->dataFileList, file);
  file4optimize(&file->file, c4->optimizeDefault, 1, int(file->recWidth), file);
  return file;
}

DATA4* d4open(CODE4* c4, const char* name) {
  if (c4 == nullptr || name == nullptr) {
    error4(c4, e4parmNull, E4_D4OPEN);
    return nullptr;
  }
  if (code4verify(c4, 1, E4_D4OPEN) || c4->errorCode < 0) return nullptr;
  if (c4->logOpen) {
    code4logOpenDefault(c4);
    c4->errorCode = 0;
  }
  if (c4->dataMemory == nullptr) {
    c4->dataMemory = mem4create(c4, c4->memStartData, sizeof(DATA4), c4->memExpandData, 0);
  }
  auto* data = c4->dataMemory ? static_cast<DATA4*>(mem4alloc(c4->dataMemory)) : nullptr;
  if (data == nullptr) {
    error4(c4, e4memory, E4_D4OPEN);
    return nullptr;
  }
  data->codeBase = c4;
  data->stamp = k4validStamp;
  data->recNum = data->recNumOld = -1;
  l4add(&c4->dataList, data);
  data->dataFile = dfile4open(c4, data, name);
  if (data->dataFile == nullptr) {
    d4close(data);
    return nullptr;
  }
  char alias[sizeof data->alias];
  u4namePiece(alias, sizeof alias, name, 0, 0);
  d4aliasSet(data, alias);
  if (BuildHandle(data) != 0 || d4openProductionIndex(data) < 0) {
    d4close(data);
    return nullptr;
  }
  data->serverId = ++c4->serverIdCount;
  if (tran4logOpen(data) < 0) {
    d4close(data);
    return nullptr;
  }
  data->readOnly = (c4->readOnly || data->dataFile->readOnly) ? 1 : 0;
  return data;
}

int d4close(DATA4* data) {
  if (data == nullptr) return error4(nullptr, e4parmNull, E4_D4CLOSE);
  CODE4* c4 = data->codeBase;
  if (c4->errorCode == e4unique) data->recordChanged = 0;
  int saved = error4set(c4, 0);
  int rc = 0;
  if (data->dataFile != nullptr && data->record != nullptr) {
    rc = d4update(data);
    if (rc == e4unique) {
      data->recordChanged = 0;
      c4->errorCode = 0;
    }
    if (data->logged) {
      int logRc = tran4logClose(data);
      if (rc == 0) rc = logRc;
    }
    if (code4tranStatus(c4) == r4active && !data->readOnly) {
      l4remove(&c4->dataList, data);
      l4add(&c4->closedDataList, data);
      c4->errorCode = saved ? saved : rc;
      return 0;
    }
  }
  while (auto* index = static_cast<INDEX4*>(l4first(&data->indexes))) {
    int indexRc = i4close(index);
    if (rc == 0 && indexRc < 0) rc = indexRc;
  }
  if (data->fieldsMemo) d4memoFree(data);
  if (DATA4FILE* file = data->dataFile) {
    if (file->keyRecord == data->record) file->keyRecord = nullptr;
    data->dataFile = nullptr;
    if (--file->userCount <= 0) {
      int fileRc = dfile4close(file);
      if (rc == 0 && fileRc < 0) rc = fileRc;
    }
  }
  u4free(data->record);
  u4free(data->recordOld);
  u4free(data->recordBlank);
  u4free(data->fields);
  u4free(data->fieldsMemo);
  l4remove(&c4->dataList, data);
  data->stamp = 0;
  mem4free(c4->dataMemory, data);
  if (rc == 0 && c4->errorCode < 0) rc = c4->errorCode;
  c4->errorCode = saved ? saved : rc;
  return rc;
}

int dfile4close(DATA4FILE* file) {
  if (file->userCount > 0) return 0;
  CODE4* c4 = file->c4;
  int saved = error4set(c4, 0);
  u4free(file->info);
  file->info = nullptr;
  int rc = 0;
  if (file->fileChanged && !file->readOnly && !c4->removeOnClose) rc = dfile4updateHeader(file, 1, 1, 1);
  // A removed or temporary table takes its memo and index files with it.
  bool remove = c4->removeOnClose || file->file.removeOnClose;
  if (c4->removeOnClose) file->file.removeOnClose = 1;
  if (file->memoFile.file.handle >= 0) {
    if (remove) file->memoFile.file.removeOnClose = 1;
    memo4fileClose(&file->memoFile);
  }
  while (auto* index = static_cast<INDEX4FILE*>(l4first(&file->indexes))) {
    index->userCount = 1;
    if (remove) index->file.removeOnClose = 1;
    index4close(index);
  }
  l4remove(&c4->dataFileList, file);
  if (file4close(&file->file) < 0 && rc == 0) rc = -1;
  u4free(file->fullName);
  mem4free(c4->dataFileMemory, file);
  if (rc == 0 && c4->errorCode < 0) rc = c4->errorCode;
  c4->errorCode = saved;
  return rc;
}

long dfile4recCount(DATA4FILE* file, long) {
  if (file == nullptr) return -1;
  if (file->minCount >= 0) return file->minCount;
  unsigned char bytes[4];
  if (file4read(&file->file, 4, bytes, 4) != 4) return -1;
  long count = long(QLoadU32LE(bytes));
  if (!file->c4->deferredCount) file->numRecs = count;
  // The file is ours alone: its count changes only through this engine.
  file->minCount = count;
  return count;
}

long d4recCount(DATA4* data) {
  if (code4verify(data, 2, E4_D4REC_COUNT)) return -1;
  if (data->codeBase->errorCode < 0) return -1;
  return dfile4recCount(data->dataFile);
}

int d4recCountLessEq(DATA4* data, long n) {
  if (code4verify(data, 2, E4_D4REC_COUNT_LESS_EQ)) return -1;
  DATA4FILE* file = data->dataFile;
  if (file->minCount >= 0 && n <= file->minCount) return 1;
  long count = dfile4recCount(file);
  if (count < 0) return error4(data->codeBase, e4read, E4_D4REC_COUNT_LESS_EQ);
  return n <= count ? 1 : 0;
}

int d4recCountGreater(DATA4* data, long n) {
  int rc = d4recCountLessEq(data, n);
  return rc < 0 ? rc : !rc;
}

int d4numFields(DATA4* data) {
  if (code4verify(data, 2, E4_D4NUM_FIELDS)) return -1;
  return data->nFields - (data->nullFlags ? 1 : 0);
}

const char* d4alias(DATA4* data) {
  if (code4verify(data, 2, E4_D4ALIAS)) return nullptr;
  return data->alias;
}

void d4aliasSet(DATA4* data, const char* alias) {
  if (code4verify(data, 2, E4_D4ALIAS_SET)) return;
  u4ncpy(data->alias, alias, sizeof data->alias);
  for (char& c : data->alias) {
    if (c == ' ') c = '_';
  }
}

int d4bof(DATA4* data) {
  if (code4verify(data, 2, E4_D4BOF)) return -1;
  return data->bofFlag;
}

int d4eof(DATA4* data) {
  if (code4verify(data, 2, E4_D4EOF)) return -1;
  if (data->codeBase->errorCode < 0) return -1;
  return data->eofFlag;
}

long d4recNo(DATA4* data) {
  if (code4verify(data, 2, E4_D4REC_NO)) return -1;
  if (data->codeBase->errorCode < 0) return -1;
  return data->recNum;
}

char* d4record(DATA4* data) {
  if (code4verify(data, 2, E4_D4RECORD)) return nullptr;
  return data->record;
}

unsigned d4recWidth(DATA4* data) {
  if (code4verify(data, 2, E4_D4REC_WIDTH)) return 0;
  return data->dataFile->recWidth;
}

const char* d4fileName(DATA4* data) {
  if (code4verify(data, 2, E4_D4FILE_NAME)) return nullptr;
  return data->dataFile->fullName;
}

// ---- tags ----

TAG4* d4tagNext(DATA4* data, TAG4* tag) {
  if (code4verify(data, 2, E4_D4TAG_NEXT)) return nullptr;
  INDEX4* index;
  if (tag == nullptr) {
    index = static_cast<INDEX4*>(l4first(&data->indexes));
  } else {
    if (auto* next = static_cast<TAG4*>(l4next(&tag->index->tags, tag))) return next;
    index = static_cast<INDEX4*>(l4next(&data->indexes, tag->index));
  }
  for (; index; index = static_cast<INDEX4*>(l4next(&data->indexes, index))) {
    if (auto* first = static_cast<TAG4*>(l4first(&index->tags))) return first;
  }
  return nullptr;
}

TAG4* d4tagPrev(DATA4* data, TAG4* tag) {
  if (code4verify(data, 2, E4_D4TAG_PREV)) return nullptr;
  INDEX4* index;
  if (tag == nullptr) {
    index = static_cast<INDEX4*>(l4last(&data->indexes));
  } else {
    if (auto* prev = static_cast<TAG4*>(l4prev(&tag->index->tags, tag))) return prev;
    index = static_cast<INDEX4*>(l4prev(&data->indexes, tag->index));
  }
  for (; index; index = static_cast<INDEX4*>(l4prev(&data->indexes, index))) {
    if (auto* last = static_cast<TAG4*>(l4last(&index->tags))) return last;
  }
  return nullptr;
}

TAG4* d4tag(DATA4* data, const char* name) {
  if (code4verify(data, 2, E4_D4TAG)) return nullptr;
  if (name == nullptr) {
    error4(data->codeBase, e4parmNull, E4_D4TAG);
    return nullptr;
  }
  char wanted[11];
  u4ncpy(wanted, name, sizeof wanted);
  c4trimTrailing(wanted);
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    if (tag->tagFile && platform::AsciiEqualsIgnoreCase(tag->tagFile->alias, wanted)) return tag;
  }
  if (data->codeBase->tagNameError) {
    error4describe(data->codeBase, e4tagName, E4_D4TAG, name, nullptr, nullptr);
  }
  return nullptr;
}

TAG4* d4tagDefault(DATA4* data) {
  if (code4verify(data, 2, E4_D4TAG_DEFAULT)) return nullptr;
  return data->tagSelected ? data->tagSelected : d4tagNext(data, nullptr);
}

TAG4* d4tagSelect(DATA4* data, TAG4* tag) {
  if (code4verify(data, 2, E4_D4TAG_SELECT)) return nullptr;
  data->tagSelected = tag;
  return tag;
}

TAG4* d4tagSelected(DATA4* data) {
  if (code4verify(data, 2, E4_D4TAG_SELECTED)) return nullptr;
  return data->tagSelected;
}

// ---- positioning ----

int d4go(DATA4* data, long rec, int copyOld) {
  if (code4verify(data, 2, E4_D4GO)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (int rc = d4updateRecord(data, 0)) return rc;
  DATA4FILE* file = data->dataFile;
  long count = dfile4recCount(file);
  if (count < 0) return -1;
  if (rec > count) {
    data->recNum = -1;
    std::memcpy(data->record, data->recordBlank, file->recWidth);
    if (!c4->goError) return r4entry;
    return error4describe(c4, e4read, E4_DFILE4, data->alias, nullptr, nullptr);
  }
  unsigned n = rec < 1 ? 0 : file4read(&file->file, dfile4recordPosition(file, rec), data->record,
                                       file->recWidth);
  if (c4->errorCode < 0) return c4->errorCode;
  if (n != file->recWidth) {
    BlankWithSpaces(data);
    data->recNum = -1;
    if (!c4->goError) return r4entry;
    return error4describe(c4, e4read, E4_DFILE4, file->fullName, nullptr, nullptr);
  }
  data->recNum = rec;
  data->bofFlag = data->eofFlag = 0;
  if (copyOld) {
    std::memcpy(data->recordOld, data->record, file->recWidth);
    data->recNumOld = rec;
  }
  return 0;
}

int d4goTo(DATA4* data, long rec, int copyOld) { return d4go(data, rec, copyOld); }

int d4goEof(DATA4* data) {
  if (data == nullptr) return error4(nullptr, e4parmNull, E4_D4GO_EOF);
  if (data->codeBase->errorCode < 0) return -1;
  if (int rc = d4updateRecord(data, 0)) return rc;
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  data->recNum = count + 1;
  data->eofFlag = 1;
  if (count == 0) data->bofFlag = 1;
  std::memcpy(data->record, data->recordBlank, data->dataFile->recWidth);
  return r4eof;
}

int d4top(DATA4* data) {
  if (code4verify(data, 2, E4_D4TOP)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (data->tagSelected) return d4topTag(data, data->tagSelected);
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  if (count >= 1) {
    int goError = c4->goError;
    c4->goError = 0;
    int rc = d4go(data, 1);
    c4->goError = goError;
    return rc;
  }
  data->bofFlag = 1;
  return d4goEof(data);
}

int d4bottom(DATA4* data) {
  if (code4verify(data, 2, E4_D4BOTTOM)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (data->tagSelected) return d4bottomTag(data, data->tagSelected);
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  if (count >= 1) return d4go(data, count);
  data->bofFlag = 1;
  return d4goEof(data);
}

int d4skip(DATA4* data, long n) {
  if (code4verify(data, 2, E4_D4SKIP)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (data->recNum < 1) {
    if (!c4->skipError) return e4info;
    return error4(c4, e4info, E4_SKIP_INVALID);
  }
  if (data->tagSelected) return d4skipTag(data, data->tagSelected, n);
  data->bofFlag = 0;
  long target = data->recNum + n;
  if (target > 0) {
    int goError = c4->goError;
    c4->goError = 0;
    data->dataFile->accessHint = -1;  // the cache reads ahead in record order
    int rc = d4go(data, target);
    data->dataFile->accessHint = 0;
    c4->goError = goError;
    if (rc != r4entry) return rc;
  }
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  if (count == 0) {
    int rc = d4goEof(data);
    data->bofFlag = 1;
    return rc;
  }
  if (target < 1) {
    int eof = data->eofFlag;
    int rc = d4go(data, 1);
    if (rc != 0) return rc;
    data->eofFlag = eof;
    data->bofFlag = 1;
    return r4bof;
  }
  if (n >= 0) return d4goEof(data);
  data->bofFlag = 1;
  return r4bof;
}

// ---- record flags ----

int d4changed(DATA4* data, int flag) {
  if (code4verify(data, 2, E4_D4CHANGED)) return -1;
  int previous = data->recordChanged;
  if (flag > 0) data->recordChanged = 1;
  if (flag == 0) data->recordChanged = 0;
  return previous;
}

void d4delete(DATA4* data) {
  if (code4verify(data, 2, E4_D4DELETE)) return;
  if (data->record[0] != '*') {
    data->record[0] = '*';
    data->recordChanged = 1;
  }
}

int d4deleted(DATA4* data) {
  if (code4verify(data, 2, E4_D4DELETED)) return -1;
  return data->record[0] == '*';
}

void d4recall(DATA4* data) {
  if (code4verify(data, 2, E4_D4RECALL)) return;
  if (data->record[0] == '*') {
    data->record[0] = ' ';
    data->recordChanged = 1;
  }
}

void d4blank(DATA4* data) {
  if (code4verify(data, 2, E4_D4BLANK)) return;
  std::memcpy(data->record, data->recordBlank, data->dataFile->recWidth);
  d4memoReset(data);
  data->recordChanged = 1;
}

// ---- fields by name and number ----

int d4fieldNumber(DATA4* data, const char* name) {
  if (data == nullptr || name == nullptr) return error4(nullptr, e4parmNull, E4_D4FIELD_NUMBER);
  if (code4verify(data, 2, E4_D4FIELD_NUMBER)) return -1;
  char wanted[257];
  u4ncpy(wanted, name, sizeof wanted);
  c4trimTrailing(wanted);
  for (char* p = wanted; *p; p++) *p = platform::AsciiUpper(*p);
  for (int i = 0; i < data->nFields; i++) {
    if (std::strcmp(data->fields[i].name, wanted) == 0) return i + 1;
  }
  if (data->codeBase->fieldNameError) {
    return error4describe(data->codeBase, e4fieldName, E4_D4FIELD_NUMBER, name, nullptr, nullptr);
  }
  return e4fieldName;
}

FIELD4* d4field(DATA4* data, const char* name) {
  if (data == nullptr || name == nullptr) {
    error4(nullptr, e4parmNull, E4_D4FIELD);
    return nullptr;
  }
  int j = d4fieldNumber(data, name);
  return j > 0 ? &data->fields[j - 1] : nullptr;
}

FIELD4* d4fieldJ(DATA4* data, int j) {
  if (data == nullptr) {
    error4(nullptr, e4parmNull, E4_D4FIELD_J);
    return nullptr;
  }
  if (code4verify(data, 2, E4_D4FIELD_J)) return nullptr;
  if (j < 1 || j > data->nFields) {
    error4(data->codeBase, e4parm, E4_D4FIELD_J);
    return nullptr;
  }
  return &data->fields[j - 1];
}
