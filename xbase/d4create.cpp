#include "xbase/d4create.h"

#include <cstring>

#include "platform/dbfheader.h"
#include "platform/endian.h"
#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/index4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/memo4.h"
#include "xbase/tran4.h"
#include "xbase/util4.h"

namespace {

constexpr uint16_t kNullable = 190;
constexpr uint16_t kAutoIncrement = 195;
constexpr unsigned kHeaderSize = dbfheader::kHeaderSize;
constexpr unsigned kDescriptorSize = dbfheader::kDescriptorSize;
constexpr unsigned kFoxReserve = 263;  // zero bytes after a FoxPro header's terminator
constexpr unsigned char kTerminator = dbfheader::kEndMark;
constexpr char kEndOfFile = 0x1A;
constexpr int kNameNotFound = -1420;
constexpr unsigned char kFlagNullable = 0x02, kFlagRaw = 0x04, kFlagAutoIncrement = 0x08;

// One field descriptor as written.
struct Descriptor {
  char name[11];
  char letter;
  unsigned width;  // the bytes it takes in the record
  unsigned char flags;
  bool memo;
};

// The descriptor of a field definition: 0, or the error code with *location.
int Describe(const FIELD4INFO& def, bool fox, Descriptor* d, unsigned* decimals, long* location) {
  *location = E4_ILLEGAL_FIELD_DATA;
  int n = 0;
  std::memset(d->name, 0, sizeof d->name);
  while (n < 10 && def.name[n]) {
    d->name[n] = platform::AsciiUpper(def.name[n]);
    n++;
  }
  char type = platform::AsciiUpper(char(def.type));
  d->letter = type;
  d->flags = 0;
  d->memo = false;
  *decimals = 0;
  const unsigned len = def.len;
  switch (type) {
    case 'C':
      d->width = len;
      break;
    case 'N': case 'F':
      // Width and decimals have a byte each.
      if (len > 255 || def.dec > 255) return e4data;
      d->width = len;
      *decimals = def.dec;
      break;
    case 'D':
      d->width = 8;
      break;
    case 'L':
      d->width = 1;
      break;
    case 'M': case 'G':
      d->width = fox ? 4 : 10;
      d->memo = true;
      break;
    case 'B':
      if (!fox || def.dec > 255) return e4data;
      d->width = 8;
      *decimals = def.dec;
      d->flags = kFlagRaw;
      break;
    case 'T': case '1': case '5': case '6':
      if (type == 'T' && !fox) return e4data;
      d->width = 8;
      d->flags = kFlagRaw;
      break;
    case '2': case '3':
      d->width = 6;
      d->flags = kFlagRaw;
      break;
    case '4': case 'V':
      d->width = 16;
      d->flags = kFlagRaw;
      break;
    case 'I': case 'P':
      if (type == 'I' && !fox) return e4data;
      d->width = 4;
      d->flags = kFlagRaw;
      break;
    case 'Q': case 'R':
      d->width = 2;
      d->flags = kFlagRaw;
      break;
    case 'Y':
      if (!fox) return e4data;
      d->width = 8;
      *decimals = 4;
      d->flags = kFlagRaw;
      break;
    case 'O':
      d->width = (len + 2) + ((len + 2) & 1);
      d->flags = kFlagRaw;
      break;
    case 'W':
      d->width = len + (len & 1);
      d->flags = kFlagRaw;
      break;
    case 'X':
      if (!fox) return e4data;
      d->letter = 'M';
      d->width = 4;
      d->flags = kFlagRaw;
      d->memo = true;
      break;
    case 'Z':
      if (!fox) return e4fieldType;
      d->letter = 'C';
      d->width = len;
      d->flags = kFlagRaw;
      break;
    default:
      return e4data;
  }
  if (def.nulls == kNullable) d->flags |= kFlagNullable;
  if (def.nulls == kAutoIncrement) d->flags |= kFlagAutoIncrement;
  return 0;
}

bool IsWide(char letter) { return letter == 'C' || letter == 'O' || letter == 'W'; }

void PutDescriptor(unsigned char* at, const Descriptor& d, unsigned decimals, uint32_t offset) {
  std::memcpy(at, d.name, 10);
  at[11] = static_cast<unsigned char>(d.letter);
  QStoreU32LE(at + 12, offset);
  if (IsWide(d.letter) || d.letter == '0') {
    at[16] = static_cast<unsigned char>(d.width & 0xFF);
    at[17] = static_cast<unsigned char>(d.width >> 8);
  } else {
    at[16] = static_cast<unsigned char>(d.width);
    at[17] = static_cast<unsigned char>(decimals);
  }
  at[18] = d.flags;
}

// The table's file image before its records: header, descriptors,
// terminator, the FoxPro reserve, and the end-of-file mark.
struct Image {
  unsigned char* bytes = nullptr;
  unsigned length = 0;
  bool memo = false;
};

int BuildImage(CODE4* c4, const FIELD4INFO* fields, Image* image) {
  const bool fox = c4->compatibility == k4dialectFox;
  int count = 0;
  while (fields[count].name != nullptr) count++;
  auto* descriptors = static_cast<Descriptor*>(u4allocEr(c4, long(sizeof(Descriptor)) * (count + 1)));
  auto* decimals = static_cast<unsigned*>(u4allocEr(c4, long(sizeof(unsigned)) * (count + 1)));
  int rc = descriptors && decimals ? 0 : int(e4memory);
  uint64_t recordLength = 1;
  int nullable = 0, autoIncrement = 0;
  for (int i = 0; i < count && rc == 0; i++) {
    const FIELD4INFO& def = fields[i];
    if (def.nulls == kAutoIncrement) {
      if (++autoIncrement > 1) {
        rc = error4(c4, e4data, E4_AUTOINCREMENT_TWICE);
        break;
      }
      if (platform::AsciiUpper(char(def.type)) != 'B') {
        rc = error4(c4, e4data, E4_AUTOINCREMENT_TYPE);
        break;
      }
    }
    long location;
    if (int error = Describe(def, fox, &descriptors[i], &decimals[i], &location)) {
      rc = error4(c4, error, location);
      break;
    }
    if (def.nulls == kNullable) nullable++;
    image->memo = image->memo || descriptors[i].memo;
    recordLength += descriptors[i].width;
  }
  const bool nullFlags = fox && nullable > 0;
  const unsigned nullBytes = unsigned(nullable + 7) / 8;
  if (nullFlags) recordLength += nullBytes;
  const bool large = c4->largeFileLimit != 0;
  if (rc == 0 && recordLength >= 65535) {
    rc = error4(c4, e4recordLen, large ? E4_RECORD_TOO_LONG_LARGE : E4_RECORD_TOO_LONG);
  }
  const unsigned fieldCount = unsigned(count) + (nullFlags ? 1 : 0);
  const unsigned headerLength = kHeaderSize * fieldCount + kHeaderSize + 1 + (fox ? kFoxReserve : 0);
  if (rc == 0 && headerLength > 0xFFFF) rc = error4(c4, e4recordLen, E4_TOO_MANY_FIELDS);
  if (rc == 0) {
    image->length = headerLength + 1;
    image->bytes = static_cast<unsigned char*>(u4allocEr(c4, long(image->length)));
    if (image->bytes == nullptr) rc = e4memory;
  }
  if (rc == 0) {
    unsigned char* h = image->bytes;
    if (fox) {
      h[0] = autoIncrement ? '1' : '0';
    } else {
      h[0] = image->memo ? 0xF5 : 0x03;
    }
    u4yymmdd(h + 1);
    QStoreU16LE(h + 8, headerLength);
    QStoreU16LE(h + 10, uint32_t(recordLength));
    if (autoIncrement) {
      // The mark that lets the table be read back, and the first value.
      h[12] = 1;
      QStoreF64LE(h + 20, 1.0);
    }
    if (fox && image->memo) h[28] = 0x02;
    uint32_t offset = 1;
    unsigned char* at = h + kHeaderSize;
    for (int i = 0; i < count; i++, at += kDescriptorSize) {
      PutDescriptor(at, descriptors[i], decimals[i], offset);
      offset += descriptors[i].width;
    }
    if (nullFlags) {
      Descriptor flags{};
      std::memcpy(flags.name, "_NullFlags", 10);
      flags.letter = '0';
      flags.width = nullBytes;
      flags.flags = 0x05;
      PutDescriptor(at, flags, 0, offset);
      at += kDescriptorSize;
    }
    *at = kTerminator;
    h[headerLength] = kEndOfFile;
  }
  u4free(descriptors);
  u4free(decimals);
  return rc;
}

// Deletes a half-made table's files.
void Discard(CODE4* c4, const char* path, bool memo) {
  u4remove(path);
  if (memo) {
    char memoName[1024];
    u4ncpy(memoName, path, sizeof memoName - 4);
    if (u4nameExt(memoName, sizeof memoName, code4memoExtension(c4), 1) == 0) u4remove(memoName);
  }
}

// Closes and deletes a table whose creation failed after it was opened.
void DiscardOpen(DATA4* data) {
  CODE4* c4 = data->codeBase;
  int trans = c4->transStatus;
  c4->transStatus = r4off;
  c4->removeOnClose = 1;
  d4close(data);
  c4->removeOnClose = 0;
  c4->transStatus = trans;
}

// Sets each tag's unique mode from its definition.
void SetUniqueModes(DATA4* data, const TAG4INFO* tags) {
  CODE4* c4 = data->codeBase;
  TAG4* previous = nullptr;
  for (const TAG4INFO* def = tags; def->name != nullptr; def++) {
    TAG4* tag = nullptr;
    if (def->name[0] == 0) {
      tag = d4tagNext(data, previous);
    } else {
      int tagNameError = c4->tagNameError;
      c4->tagNameError = 0;
      tag = d4tag(data, def->name);
      c4->tagNameError = tagNameError;
    }
    if (tag == nullptr) {
      error4describe(c4, kNameNotFound, E4_CREATE_TAG_MISSING, data->alias, def->name, nullptr);
      continue;
    }
    tag->errUnique = def->unique;
    previous = tag;
  }
}

// Writes the table's files, closed; 0 or an error. The path in `path`. A
// table without a name is made in the temporary folder or the current one.
int WriteFiles(CODE4* c4, const char* full, const Image& image, int inTempFolder, char* path,
               unsigned size) {
  FILE4 file{};
  int rc = full ? file4create(&file, c4, full, 1) : file4tempLow(&file, c4, 0, inTempFolder, nullptr);
  if (rc != 0) return rc;
  u4ncpy(path, file.name, size);
  rc = file4write(&file, 0, image.bytes, image.length);
  int closeRc = file4close(&file);
  if (rc == 0) rc = closeRc;
  if (rc == 0 && image.memo) {
    MEMO4FILE memo{};
    rc = memo4fileCreate(&memo, c4, nullptr, path);
    if (memo.file.handle >= 0) memo4fileClose(&memo);
    // A memo file that cannot be made leaves no table behind: it could not
    // be opened without it.
    if (rc == r4noCreate) u4remove(path);
  }
  return rc;
}

DATA4* CreateLow(CODE4* c4, const char* full, const FIELD4INFO* fields, const TAG4INFO* tags) {
  Image image;
  if (BuildImage(c4, fields, &image) != 0) return nullptr;
  // The files of a table that goes with its close stay until it is opened.
  const int tempAutoRemove = c4->tempAutoRemove;
  c4->tempAutoRemove = 0;
  char path[1024] = {0};
  int rc = WriteFiles(c4, full, image, tempAutoRemove, path, sizeof path);
  c4->tempAutoRemove = tempAutoRemove;
  u4free(image.bytes);
  if (rc == r4noCreate || (rc != 0 && path[0] == 0)) return nullptr;
  if (rc == 0 && full && tran4logging(c4)) rc = tran4logCreate(c4, full, fields, tags);
  if (rc != 0) {
    Discard(c4, path, image.memo);
    return nullptr;
  }
  // The create's own open is not logged.
  int autoOpen = c4->autoOpen, trans = c4->transStatus;
  c4->autoOpen = 0;
  c4->transStatus = r4off;
  DATA4* data = d4open(c4, path);
  c4->autoOpen = autoOpen;
  c4->transStatus = trans;
  if (data == nullptr) {
    int saved = error4set(c4, 0);
    Discard(c4, path, image.memo);
    error4set(c4, saved);
    return nullptr;
  }
  if (tempAutoRemove) data->dataFile->file.removeOnClose = 1;
  if (tags != nullptr && tags[0].name != nullptr) {
    if (i4create(data, nullptr, tags) == nullptr) {
      DiscardOpen(data);
      return nullptr;
    }
    SetUniqueModes(data, tags);
  }
  return data;
}

}  // namespace

DATA4* d4create(CODE4* c4, const char* name, const FIELD4INFO* fields, const TAG4INFO* tags) {
  if (code4verify(c4, 1, E4_D4CREATE)) return nullptr;
  if (fields == nullptr || (name == nullptr && c4->createTemp != 1)) {
    error4(c4, e4parmNull, E4_D4CREATE);
    return nullptr;
  }
  if (c4->errorCode < 0) return nullptr;
  if (c4->logOpen) {
    code4logOpenDefault(c4);
    c4->errorCode = 0;
  }
  char full[1024];
  if (name != nullptr) {
    if (dfile4fullName(full, sizeof full, name) != 0) {
      error4describe(c4, e4create, E4_D4CREATE, name, nullptr, nullptr);
      return nullptr;
    }
    DATA4FILE* open = dfile4findOpen(c4, full);
    if (open != nullptr && open->userCount > 0) {
      if (c4->reportCreateFailure) {
        error4describe(c4, e4create, E4_CREATE_OPEN_FILE, full, nullptr, nullptr);
      } else {
        c4->errorCode = r4noCreate;
      }
      return nullptr;
    }
  }
  int readOnly = c4->readOnly;
  c4->readOnly = 0;
  DATA4* data = CreateLow(c4, name ? full : nullptr, fields, tags);
  c4->readOnly = readOnly;
  return data;
}

// ---- pack ----

int dfile4packData(DATA4FILE* file) {
  CODE4* c4 = file->c4;
  const unsigned width = file->recWidth;
  file->fileChanged = 1;
  long count = dfile4recCount(file);
  if (count < 0) return -1;
  // Read and write buffers of one size, as large as memory allows; none
  // when not even a record's worth can be had.
  char *in = nullptr, *out = nullptr;
  unsigned size = 0;
  for (long wanted = c4->memSizeBuffer; wanted > long(width); wanted -= 2048) {
    in = static_cast<char*>(u4alloc(wanted));
    out = static_cast<char*>(u4alloc(wanted));
    if (in && out) {
      size = unsigned(wanted);
      break;
    }
    u4free(in);
    u4free(out);
    in = out = nullptr;
  }
  auto* record = static_cast<char*>(u4allocEr(c4, long(width)));
  if (record == nullptr) {
    u4free(in);
    u4free(out);
    return e4memory;
  }
  FILE4SEQ_READ reader;
  FILE4SEQ_WRITE writer;
  file4seqReadInit(&reader, &file->file, file->headerLen, in, size);
  file4seqWriteInit(&writer, &file->file, file->headerLen, out, size);
  long kept = 0;
  int rc = 0;
  for (long n = 0; n < count && rc == 0; n++) {
    rc = file4seqReadAll(&reader, record, width);
    if (rc == 0 && record[0] == ' ') {
      rc = file4seqWrite(&writer, record, width);
      kept++;
    }
  }
  if (rc == 0) rc = file4seqWrite(&writer, &kEndOfFile, 1);
  int closeRc = file4seqWriteClose(&writer);
  if (rc == 0) rc = closeRc;
  u4free(record);
  u4free(in);
  u4free(out);
  if (rc < 0) return rc;
  file->minCount = kept;
  if (!c4->deferredCount) file->numRecs = kept;
  return file4lenSet(&file->file, dfile4recordPosition(file, kept + 1) + 1);
}

int d4packData(DATA4* data) {
  if (code4verify(data, 2, E4_D4PACK_DATA)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (data->readOnly) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, data->alias, nullptr, nullptr);
  }
  if (int rc = d4updateRecord(data, 0)) return rc;
  if (tran4logging(c4) && data->logged) {
    if (tran4logEntry(data, t4logPack, nullptr, 0) < 0) return e4transAppend;
  }
  data->recNum = data->recNumOld = -1;
  std::memset(data->record, ' ', data->dataFile->recWidth);
  return dfile4packData(data->dataFile);
}

int d4pack(DATA4* data) {
  if (code4verify(data, 2, E4_D4PACK)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (data->readOnly) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, data->alias, nullptr, nullptr);
  }
  if (tran4active(data)) return error4(c4, e4transViolation, E4_PACK_TRANSACTION);
  if (int rc = d4packData(data)) return rc;
  for (auto* index = static_cast<INDEX4*>(l4first(&data->indexes)); index;
       index = static_cast<INDEX4*>(l4next(&data->indexes, index))) {
    if (int rc = i4reindex(index)) return rc;
  }
  long count = dfile4recCount(data->dataFile);
  data->bofFlag = data->eofFlag = count == 0 ? 1 : 0;
  return dfile4updateHeader(data->dataFile, 1, 1, 1);
}

// ---- remove ----

int d4remove(DATA4* data) {
  if (data == nullptr) return error4(nullptr, e4parmNull, E4_D4REMOVE);
  if (code4verify(data, 2, E4_D4REMOVE)) return -1;
  CODE4* c4 = data->codeBase;
  if (tran4active(data)) return error4(c4, e4transViolation, E4_REMOVE_TRANSACTION);
  // The handle's index files close before the data file: mark them now.
  if (data->dataFile->userCount == 1) {
    for (auto* index = static_cast<INDEX4*>(l4first(&data->indexes)); index;
         index = static_cast<INDEX4*>(l4next(&data->indexes, index))) {
      if (index->indexFile) index->indexFile->file.removeOnClose = 1;
    }
  }
  c4->removeOnClose = 1;
  int rc = d4close(data);
  c4->removeOnClose = 0;
  return rc;
}
