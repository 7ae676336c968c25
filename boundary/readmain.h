// The attribute-file reader's interface: the Dl context and the bodies of the
// exported Dl* calls (boundary/dlmain.cpp, in the Dl frame of cframe.h), and
// AttributeSearch, through which an open boundary file reaches its companion
// attribute file.
//
// Buffers of the Dl calls count characters: a call writes at most size
// characters and a NUL (size + 1 bytes). A null context, file, field or key
// records code 100 "Null value passed." in the process-wide Dl record
// (source "readmain", the entry's line) and gives the call's failure value;
// other errors go to the context's record. DlErrorGet returns code and texts
// of one record: the context's when it holds an error, else the
// process-wide one, which is guarded by a lock (the last writer wins).
#pragma once

#include <cstdint>

#include "base/qerror.h"
#include "base/qlist.h"
#include "boundary/cframe.h"
#include "boundary/dllist.h"
#include "boundary/fieldid.h"
#include "boundary/mainintn.h"
#include "zonelib.h"

// Characters of the name a context keeps.
inline constexpr size_t kDlNameSize = 256;
inline constexpr const char* kDlNullText = "Null value passed.";
inline constexpr const char* kDlVersionText = "Quistrel v34.04";

struct DlContext {
  QDlist files;  // the open files (Quistrel), owned
  char name[kDlNameSize + 1] = {};
  QError error;
  QError* errorRef = &error;
};

// The lines the null reports of the entries name.
enum DlLine : int {
  kDlLineInit = 79,
  kDlLineTerm = 131,
  kDlLineFileOpen = 178,
  kDlLineFileClose = 303,
  kDlLineFileSearch = 353,
  kDlLineFileSearchInt = 393,
  kDlLineFileSearchNext = 418,
  kDlLineFileSearchNextInt = 459,
  kDlLineFieldGetN = 504,
  kDlLineFieldGet = 543,
  kDlLineFileNumFields = 597,
  kDlLineFieldGetString = 652,
  kDlLineFieldGetNum = 693,
  kDlLineFieldGetAttribute = 780,
  kDlLineFileGetAttribute = 831,
  kDlLineFieldGetValueAttribute = 875,
  kDlLineErrorGet = 910,
};

// The process-wide record of the Dl interface.
pipError& DlGlobalError();
// Records "Null value passed." for the entry at line; returns false.
bool DlNullPassed(int line);

// Bodies of the Dl calls; their arguments are not null where the frame
// checks them.
DlContext* DlInitIntern(const char* name);
int32_t DlTermIntern(DlContext* context);
Quistrel* DlFileOpenIntern(DlContext* context, const char* name);
int32_t DlFileCloseIntern(Quistrel* file);
int32_t DlErrorGetIntern(DlContext* context, char* message, char* detail);
int32_t DlGetVersionIntern(char* buffer);

// The value of a number field stored with decimals, printed with that many
// decimals ("123.45" for 12345 and 2), whatever the host's locale.
std::string DlScaledText(int64_t value, uint32_t decimals);

// The attribute file of an open boundary file.
class AttributeSearch {
 public:
  AttributeSearch();
  virtual ~AttributeSearch();
  AttributeSearch(const AttributeSearch&) = delete;
  AttributeSearch& operator=(const AttributeSearch&) = delete;

  // Opens the attribute file of the boundary file at path (its last letter
  // b or B made a or A; found ignoring case) and keeps it only when its
  // stamp is empty or equals creationTime; a file made for another boundary
  // file is closed, marked out of date (code 107 in the context's record)
  // and counts as absent. Whether a file is open.
  bool Open(const char* path, const char* creationTime);
  // Clears the current record, closes the file and ends the context.
  void Close();
  // Makes record number the current record: whether it was found.
  uint32_t SetRecord(int32_t recordNumber);
  // The same, looked up only when a value is first read: a search that
  // asks for no attribute costs no lookup in the attribute file.
  void SetRecordLater(int32_t recordNumber) {
    pending_ = recordNumber;
    isPending_ = true;
  }

  // Fields without the key field; 0 without a file.
  int32_t GetAttributeCount();
  bool HasField(const char* name);
  // "qrecid" when the file has such a field, else "recid".
  const char* KeyFieldName();
  // The record of field n (the key field skipped when it stands at n) or of
  // the named field, with the current record's value. -1 without a file or
  // field; 0 without a value; 1 with one.
  int32_t GetAttributeInfoByNumber(uint32_t n, pipAttributeInfoStruct* out);
  int32_t GetAttributeInfoByName(const char* name, pipAttributeInfoStruct* out);
  int32_t GetAttributeNameByNumber(uint32_t n, char* buffer, int32_t size);

  bool IsOpen() const { return file_ != nullptr; }
  bool OutOfDate() const { return mismatch_ != 0; }
  DlContext* Context() const { return context_; }
  Quistrel* File() const { return file_; }

 private:
  int32_t Fill(FieldId* field, pipAttributeInfoStruct* out);
  void CloseFile();

  DlContext* context_ = nullptr;
  Quistrel* file_ = nullptr;
  uint32_t current_ = 0;
  uint32_t mismatch_ = 0;
  int32_t pending_ = 0;
  bool isPending_ = false;
};
