#include "xbase/file4.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/error4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"

namespace {

constexpr uint64_t k4GB = uint64_t(1) << 32;

platform::Env& Env() { return platform::Env::Current(); }

// The engine's code for a failed open.
int OpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return e4fileFind;
    case EMFILE:
    case ENFILE:
      return e4numFiles;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EROFS:
    case EWOULDBLOCK:
      return e4permiss;
    case ENOSPC:
    case EDQUOT:
      return e4write;
    default:
      return e4open;
  }
}

void ClearRecord(FILE4* file, CODE4* c4) {
  *file = FILE4{};
  file->codeBase = c4;
  file->handle = -1;
  file->hashOffset = 0xFFFFFFFFu;
  file->cachedLenHigh = 0xFFFFFFFFu;
}

// Takes the descriptor and its identity; locks it for exclusive use.
int Adopt(FILE4* file, int fd) {
  if (Env().LockExclusive(fd) != 0) {
    int error = errno;
    Env().Close(fd);
    return OpenError(error);
  }
  platform::FileInfo info;
  if (Env().FileStat(fd, &info) == 0) {
    file->device = info.device;
    file->inode = info.inode;
    if (uint64_t(info.size) > k4GB) file->largeFile = 1;
  }
  file->handle = fd;
  file->onDisk = 1;
  file->aheadState = 1;
  return 0;
}

int CopyName(FILE4* file, const char* name, int doAllocName) {
  if (!doAllocName) {
    file->name = name;
    return 0;
  }
  size_t n = std::strlen(name) + 1;
  file->nameCopy = static_cast<char*>(u4alloc(long(n)));
  if (file->nameCopy == nullptr) return e4memory;
  std::memcpy(file->nameCopy, name, n);
  file->name = file->nameCopy;
  file->ownsName = 1;
  return 0;
}

// Creates the file: 0, or 60 when it exists (exclusive) or cannot be made.
int CreateLow(FILE4* file, const char* name, bool exclusive) {
  platform::FileInfo info;
  bool exists = Env().PathStat(name, &info) == 0;
  int fd;
  if (exists) {
    if (exclusive) return r4noCreate;
    // Replace the file only once it is ours alone.
    fd = Env().Open(name, platform::kReadWrite);
    if (fd < 0) return r4noCreate;
    if (Env().LockExclusive(fd) != 0 || Env().Truncate(fd, 0) != 0) {
      Env().Close(fd);
      return r4noCreate;
    }
    Env().Unlock(fd);
  } else {
    fd = Env().Open(name, platform::kReadWrite | platform::kCreate | platform::kExclusive, 0666);
    if (fd < 0) return r4noCreate;
  }
  return Adopt(file, fd) == 0 ? 0 : r4noCreate;
}

int ReportCreate(FILE4* file, CODE4* c4, const char* name, int rc) {
  ClearRecord(file, c4);
  if (!c4->reportCreateFailure) {
    c4->errorCode = r4noCreate;
    return r4noCreate;
  }
  (void)rc;
  return error4describe(c4, e4create, E4_FILE4_CREATE, name, nullptr, nullptr);
}

}  // namespace

int file4open(FILE4* file, CODE4* c4, const char* name, int doAllocName) {
  if (file == nullptr || c4 == nullptr || name == nullptr) {
    return error4(c4, e4parm, E4_FILE4_OPEN);
  }
  if (c4->errorCode < 0) return -1;
  opt4refreshMemory(c4);
  ClearRecord(file, c4);
  c4->errorCode = 0;
  platform::FileInfo info;
  bool readOnly = c4->readOnly != 0;
  if (Env().PathStat(name, &info) == 0 && !info.writable) readOnly = true;
  int fd = Env().Open(name, readOnly ? platform::kRead : platform::kReadWrite);
  int rc = fd < 0 ? OpenError(errno) : Adopt(file, fd);
  if (rc != 0) {
    ClearRecord(file, c4);
    if (!c4->reportOpenFailure) {
      c4->errorCode = r4noOpen;
      return r4noOpen;
    }
    return error4describe(c4, rc, E4_FILE4_OPEN, name, nullptr, nullptr);
  }
  file->writeProtected = readOnly ? 1 : 0;
  if (CopyName(file, name, doAllocName) != 0) {
    file4close(file);
    return error4(c4, e4memory, E4_FILE4_OPEN);
  }
  return 0;
}

int file4create(FILE4* file, CODE4* c4, const char* name, int doAllocName) {
  if (file == nullptr || c4 == nullptr) return error4(c4, e4parmNull, E4_FILE4_CREATE);
  if (c4->errorCode < 0) return -1;
  if (name == nullptr) return file4tempLow(file, c4, c4->tempAutoRemove, c4->tempAutoRemove, nullptr);
  opt4refreshMemory(c4);
  ClearRecord(file, c4);
  c4->errorCode = 0;
  int rc = CreateLow(file, name, c4->createNewOnly != 0);
  if (rc != 0) return ReportCreate(file, c4, name, rc);
  if (CopyName(file, name, doAllocName) != 0) {
    file4close(file);
    return error4(c4, e4memory, E4_FILE4_CREATE);
  }
  if (c4->tempAutoRemove == 1) file->removeOnClose = 1;
  return 0;
}

int file4close(FILE4* file) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_CLOSE);
  CODE4* c4 = file->codeBase;
  if (file->handle < 0) {
    if (file->ownsName) u4free(file->nameCopy);
    ClearRecord(file, c4);
    return 0;
  }
  opt4fileFlush(file, 1);
  opt4fileCompleteWrites(file, file->removeOnClose);
  u4free(file->aheadBuffer);
  file->aheadBuffer = nullptr;
  if (Env().Close(file->handle) != 0 && c4) {
    error4describe(c4, e4close, E4_FILE4_CLOSE, file->name, nullptr, nullptr);
  }
  file->handle = -1;
  if (file->removeOnClose && file->name && Env().Remove(file->name) != 0 && c4) {
    error4describe(c4, e4remove, E4_FILE4_CLOSE, file->name, nullptr, nullptr);
  }
  if (file->ownsName) u4free(file->nameCopy);
  ClearRecord(file, c4);
  return (c4 && c4->errorCode < 0) ? -1 : 0;
}

unsigned file4read(FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  if (file == nullptr || length == 0) return 0;
  CODE4* c4 = file->codeBase;
  if (c4 && c4->errorCode < 0) return 0;
  if (!file->onDisk || file->handle < 0) return 0;
  int64_t n = Env().ReadAt(file->handle, buffer, length, int64_t(pos));
  if (n < 0) {
    file4readError(file, pos, length, "file4readLow");
    return 0;
  }
  return unsigned(n);
}

int file4readAll(FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_READ_ALL);
  CODE4* c4 = file->codeBase;
  if (c4 && c4->errorCode < 0) return -1;
  if (!file->onDisk) return error4(c4, e4opt, E4_FILE4_READ);
  unsigned n = file4read(file, pos, buffer, length);
  if (c4 && c4->errorCode < 0) return c4->errorCode;
  if (n != length) return file4readError(file, pos, length, "file4readAllLow");
  return 0;
}

int file4readError(FILE4* file, uint64_t pos, unsigned length, const char* label) {
  char where[48];
  std::snprintf(where, sizeof where, "%19lu %19u", (unsigned long)(pos & 0xFFFFFFFFu), length);
  return error4describe(file ? file->codeBase : nullptr, e4read, E4_FILE4_READ_ERROR,
                        file ? file->name : nullptr, where, label);
}

int file4write(FILE4* file, uint64_t pos, const void* data, unsigned length) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_WRITE);
  CODE4* c4 = file->codeBase;
  if (data == nullptr && length != 0) return error4(c4, e4parm, E4_FILE4_WRITE);
  if (file->handle < 0) return error4(c4, e4parm, E4_FILE4_WRITE);
  if (c4 && c4->errorCode < 0) return -1;
  if (file->writeProtected) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, file->name, nullptr, nullptr);
  }
  if (length == 0) return 0;
  int64_t n = Env().WriteAt(file->handle, data, length, int64_t(pos));
  if (n > 0 && pos + uint64_t(n) > k4GB) file->largeFile = 1;
  if (n != int64_t(length)) {
    return error4describe(c4, e4write, E4_FILE4_WRITE, file->name, nullptr, nullptr);
  }
  return 0;
}

uint64_t file4len(FILE4* file) {
  if (file == nullptr) {
    error4(nullptr, e4parmNull, E4_FILE4_LEN);
    return ~uint64_t(0);
  }
  if (!file->onDisk) return 0;
  platform::FileInfo info;
  if (file->handle < 0 || Env().FileStat(file->handle, &info) != 0) {
    error4describe(file->codeBase, e4len, E4_FILE4_LEN, file->name, nullptr, nullptr);
    return ~uint64_t(0);
  }
  return uint64_t(info.size);
}

int file4lenSet(FILE4* file, uint64_t length) {
  if (file == nullptr || (length >> 32) == 0xFFFFFFFFu) {
    return error4(file ? file->codeBase : nullptr, e4parmNull, E4_FILE4_LEN_SET);
  }
  CODE4* c4 = file->codeBase;
  if (c4 == nullptr) return -1;
  if (c4->errorCode >= 1 && c4->errorCode <= 199) return -1;
  if (file->writeProtected) {
    return error4describe(c4, e4parm, E4_READ_ONLY_LENGTH, file->name, nullptr, nullptr);
  }
  file->largeFile = (length >> 32) != 0 ? 1 : 0;
  if (!file->onDisk) return 0;
  if (Env().Truncate(file->handle, int64_t(length)) != 0) {
    return error4describe(c4, e4lenSet, E4_FILE4_LEN_SET, file->name, nullptr, nullptr);
  }
  return 0;
}

int file4flush(FILE4* file) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_FLUSH);
  if (file->writeProtected) return 0;
  CODE4* c4 = file->codeBase;
  opt4fileFlush(file, 0);
  int saved = c4 ? error4set(c4, 0) : 0;
  int rc = file4lowFlush(file);
  if (c4 && saved != 0) error4set(c4, saved);
  return rc < 0 ? rc : 0;
}

int file4lowFlush(FILE4* file) {
  if (!file->onDisk || file->handle < 0) return 0;
  opt4fileCompleteWrites(file, 0);
  if (Env().Sync(file->handle) != 0) {
    return error4describe(file->codeBase, e4optFlush, E4_FILE4_LOW_FLUSH, file->name, nullptr,
                          nullptr);
  }
  return 0;
}

int file4tempLow(FILE4* file, CODE4* c4, int autoRemove, int useTempFolder,
                 const char* extension) {
  if (file == nullptr || c4 == nullptr) return error4(c4, e4parmNull, E4_FILE4_TEMP_LOW);
  opt4refreshMemory(c4);
  std::string folder = useTempFolder ? Env().TempDirectory() : std::string(".");
  bool isData = extension != nullptr && platform::AsciiEqualsIgnoreCase(extension, "dbf");
  platform::Env& env = Env();
  int64_t seconds = env.NowSeconds() % 60;
  int64_t millis = (env.NowMicros() / 1000) % 1000;
  unsigned seed = unsigned((seconds * 1000 + millis) & 0xFFFF) % 10000;
  for (unsigned attempt = 1; attempt <= 100; attempt++) {
    char base[32];
    // Four digits always: the number wraps at 10000.
    std::snprintf(base, sizeof base, "TEMP%04u", (seed + attempt) % 10000);
    std::string stem = platform::JoinPath(folder, base);
    std::string name = stem + "." + (extension ? extension : "TMP");
    platform::FileInfo info;
    if (isData && (env.PathStat(stem + "." + code4indexExtension(c4), &info) == 0 ||
                   env.PathStat(stem + "." + code4memoExtension(c4), &info) == 0)) {
      continue;
    }
    ClearRecord(file, c4);
    if (CreateLow(file, name.c_str(), true) != 0) continue;
    if (CopyName(file, name.c_str(), 1) != 0) {
      file4close(file);
      env.Remove(name);
      return error4(c4, e4memory, E4_FILE4_TEMP_LOW);
    }
    if (autoRemove) file->removeOnClose = 1;
    return 0;
  }
  ClearRecord(file, c4);
  return error4describe(c4, e4create, E4_TEMP_FILE, nullptr, nullptr, nullptr);
}

// ---- sequential reader ----

int file4seqReadInit(FILE4SEQ_READ* reader, FILE4* file, uint64_t start, void* buffer,
                     unsigned size) {
  return file4seqReadInitDo(reader, file, start, buffer, size, 0);
}

int file4seqReadInitDo(FILE4SEQ_READ* reader, FILE4* file, uint64_t start, void* buffer,
                       unsigned size, int /*doDouble*/) {
  if (reader == nullptr || file == nullptr) return error4(nullptr, e4parm, E4_FILE4_SEQ_READ_INIT);
  *reader = FILE4SEQ_READ{};
  opt4fileFlush(file, 1);
  reader->file = file;
  reader->pos = start;
  size &= ~1023u;
  if (buffer != nullptr && size > 0) {
    reader->buffer = static_cast<char*>(buffer);
    reader->total = size;
    reader->nextReadLen = size;
    // The first fill stops at a 1024 boundary, so later fills are aligned.
    if (start % 1024 != 0 && (start >> 32) == 0) reader->nextReadLen = unsigned(1024 - start % 1024);
  }
  return 0;
}

unsigned file4seqRead(FILE4SEQ_READ* reader, void* buffer, unsigned length) {
  if (reader == nullptr || (buffer == nullptr && length != 0)) {
    error4(nullptr, e4parmNull, E4_FILE4_SEQ_READ);
    return 0;
  }
  CODE4* c4 = reader->file->codeBase;
  if (c4 && c4->errorCode < 0) return 0;
  auto* out = static_cast<char*>(buffer);
  if (reader->buffer == nullptr) {
    unsigned n = file4read(reader->file, reader->pos, out, length);
    reader->pos += n;
    return n;
  }
  unsigned done = 0;
  while (done < length) {
    if (reader->avail == 0) {
      unsigned n = file4read(reader->file, reader->pos, reader->buffer, reader->nextReadLen);
      if (c4 && c4->errorCode < 0) {
        file4readError(reader->file, reader->pos, reader->nextReadLen, "file4seqRead");
        return done;
      }
      reader->pos += n;
      reader->working = 0;
      reader->avail = n;
      reader->nextReadLen = reader->total;
      if (n == 0) break;
    }
    unsigned take = length - done < reader->avail ? length - done : reader->avail;
    std::memcpy(out + done, reader->buffer + reader->working, take);
    reader->working += take;
    reader->avail -= take;
    done += take;
  }
  return done;
}

int file4seqReadAll(FILE4SEQ_READ* reader, void* buffer, unsigned length) {
  if (reader == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_SEQ_READ);
  unsigned n = file4seqRead(reader, buffer, length);
  if (n != length) return file4readError(reader->file, reader->pos, length, "file4seqReadAll");
  return 0;
}

// ---- sequential writer ----

int file4seqWriteInit(FILE4SEQ_WRITE* writer, FILE4* file, uint64_t start, void* buffer,
                      unsigned size) {
  if (writer == nullptr || file == nullptr) return error4(nullptr, e4parm, E4_FILE4_SEQ_WRITE_INIT);
  *writer = FILE4SEQ_WRITE{};
  opt4fileFlush(file, 1);
  writer->file = file;
  writer->pos = start;
  unsigned half = (size / 2) & 0x7E00u;
  if (buffer == nullptr || half == 0) return 0;
  writer->buffer = static_cast<char*>(buffer);
  writer->buffer2 = static_cast<char*>(buffer) + half;
  writer->total = half;
  writer->working = half;
  if (start % 1024 != 0 && (start >> 32) == 0) {
    unsigned cut = unsigned((start + half) % 1024);
    if (cut < half) writer->working = half - cut;
  }
  writer->buffer1free = 1;
  writer->buffer2free = 1;
  return 0;
}

int file4seqWriteFlush(FILE4SEQ_WRITE* writer) {
  if (writer == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_SEQ_WRITE_FLUSH);
  if (writer->buffer == nullptr || writer->avail == 0) return 0;
  int rc = file4writeDelay(writer->file, writer->pos, writer->buffer, writer->avail, nullptr, nullptr);
  if (rc < 0) {
    return error4describe(writer->file->codeBase, e4write, E4_FILE4_SEQ_WRITE_FLUSH,
                          writer->file->name, nullptr, nullptr);
  }
  writer->pos += writer->avail;
  char* other = writer->buffer2;
  writer->buffer2 = writer->buffer;
  writer->buffer = other;
  writer->avail = 0;
  writer->working = writer->total;
  return 0;
}

int file4seqWrite(FILE4SEQ_WRITE* writer, const void* data, unsigned length) {
  if (writer == nullptr || (data == nullptr && length != 0)) {
    return error4(nullptr, e4parmNull, E4_FILE4_SEQ_WRITE);
  }
  CODE4* c4 = writer->file->codeBase;
  if (c4 == nullptr) return e4write;
  if (c4->errorCode < 0) return -1;
  if (writer->buffer == nullptr) {
    int rc = file4write(writer->file, writer->pos, data, length);
    if (rc == 0) writer->pos += length;
    return rc;
  }
  const auto* in = static_cast<const char*>(data);
  while (length > 0) {
    unsigned room = writer->working - writer->avail;
    unsigned take = length < room ? length : room;
    std::memcpy(writer->buffer + writer->avail, in, take);
    writer->avail += take;
    in += take;
    length -= take;
    if (writer->avail == writer->working) {
      if (int rc = file4seqWriteFlush(writer)) return rc;
    }
  }
  return 0;
}

int file4seqWriteRepeat(FILE4SEQ_WRITE* writer, long count, char byte) {
  if (count < 0) return error4(writer ? writer->file->codeBase : nullptr, e4parm, E4_FILE4_SEQ_WRITE_REPEAT);
  char piece[512];
  std::memset(piece, byte, sizeof piece);
  while (count > 0) {
    unsigned n = count > long(sizeof piece) ? unsigned(sizeof piece) : unsigned(count);
    if (int rc = file4seqWrite(writer, piece, n)) return rc;
    count -= long(n);
  }
  return 0;
}

int file4seqWriteClose(FILE4SEQ_WRITE* writer) {
  int rc = file4seqWriteFlush(writer);
  opt4fileCompleteWrites(writer->file, 0);
  int rc2 = opt4fileFlush(writer->file, 0);
  return rc < 0 ? rc : rc2;
}
