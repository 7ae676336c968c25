// The file layer: every byte the engine reads or writes passes through a
// FILE4. Files are opened for exclusive use (an exclusive flock besides the
// descriptor), positions are 64-bit, and the system's errors map to the
// engine's codes: no such file or folder -64, too many files -63,
// permission or in use -61, no space -120, anything else -60.
//
// When the block cache runs, reads and writes of a buffered file go through
// it (opt4.h); with the worker threads, writes may be queued and reads served
// from read-ahead buffers. Whatever path the bytes take, a read returns the
// newest bytes written.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

// 0, 70 (quiet failure) or an error. With doAllocName the name is copied.
int file4open(FILE4* file, CODE4* c4, const char* name, int doAllocName);
// 0, 60 (file exists or cannot be made; quiet when reportCreateFailure is 0)
// or an error. A null name makes a temporary file.
int file4create(FILE4* file, CODE4* c4, const char* name, int doAllocName);
int file4close(FILE4* file);
// Bytes read (0..length).
unsigned file4read(FILE4* file, uint64_t pos, void* buffer, unsigned length);
// 0, or -70 when fewer than length bytes could be read.
int file4readAll(FILE4* file, uint64_t pos, void* buffer, unsigned length);
int file4readError(FILE4* file, uint64_t pos, unsigned length, const char* label);
int file4write(FILE4* file, uint64_t pos, const void* data, unsigned length);
// The length; all bits set on failure.
uint64_t file4len(FILE4* file);
int file4lenSet(FILE4* file, uint64_t length);
int file4flush(FILE4* file);
int file4lowFlush(FILE4* file);
// A new temporary file TEMPnnnn.TMP (or .extension) in the temporary folder
// (TMPDIR, TEMP or TMP) or the current one.
int file4tempLow(FILE4* file, CODE4* c4, int autoRemove, int useTempFolder,
                 const char* extension);
inline const char* file4name(const FILE4* file) { return file->name; }
// Whether the file is open: on disk, or a temporary file that so far lives
// only in the cache.
inline bool file4isOpen(const FILE4* file) { return file->handle >= 0 || (file->cached && !file->onDisk); }

// Sequential access through a caller's buffer.
int file4seqReadInit(FILE4SEQ_READ* reader, FILE4* file, uint64_t start, void* buffer,
                     unsigned size);
int file4seqReadInitDo(FILE4SEQ_READ* reader, FILE4* file, uint64_t start, void* buffer,
                       unsigned size, int doDouble);
unsigned file4seqRead(FILE4SEQ_READ* reader, void* buffer, unsigned length);
int file4seqReadAll(FILE4SEQ_READ* reader, void* buffer, unsigned length);
// With doDouble 1 and the read-ahead thread running, the buffer is used as
// two halves and the next half is read ahead while the caller reads one; such
// a reader is ended with file4seqReadClose before its buffer is freed.
void file4seqReadClose(FILE4SEQ_READ* reader);
int file4seqWriteInit(FILE4SEQ_WRITE* writer, FILE4* file, uint64_t start, void* buffer,
                      unsigned size);
int file4seqWrite(FILE4SEQ_WRITE* writer, const void* data, unsigned length);
int file4seqWriteFlush(FILE4SEQ_WRITE* writer);
int file4seqWriteRepeat(FILE4SEQ_WRITE* writer, long count, char byte);
// Flushes the writer and waits for its queued writes.
int file4seqWriteClose(FILE4SEQ_WRITE* writer);

// Location codes of the file layer's reports.
enum : long {
  E4_FILE4_CLOSE = 90057,
  E4_FILE4_CREATE = 90058,
  E4_FILE4_LEN = 90061,
  E4_FILE4_LEN_SET = 90062,
  E4_FILE4_READ = 90063,
  E4_FILE4_READ_ALL = 90064,
  E4_FILE4_LOW_FLUSH = 90066,
  E4_FILE4_FLUSH = 90067,
  E4_FILE4_OPEN = 90071,
  E4_FILE4_TEMP_LOW = 90074,
  E4_FILE4_WRITE = 90075,
  E4_FILE4_READ_ERROR = 90077,
  E4_FILE4_SEQ_READ = 90081,
  E4_FILE4_SEQ_READ_INIT = 90083,
  E4_FILE4_SEQ_WRITE = 90084,
  E4_FILE4_SEQ_WRITE_FLUSH = 90085,
  E4_FILE4_SEQ_WRITE_INIT = 90086,
  E4_FILE4_SEQ_WRITE_REPEAT = 90087,
};
