// The Dl interface of Zonelib: each exported function is the Dl frame
// (cframe.h) around the body that does the work.
#include "boundary/readmain.h"
#include "zonelib.h"

ZONELIB_API DlContext* DlInit(const char* name) {
  return DlCall<DlContext*>(nullptr, kDlLineInit, {name}, [&] { return DlInitIntern(name); });
}

ZONELIB_API int32_t DlTerm(DlContext* context) {
  return DlCall(0, kDlLineTerm, {context}, [&] { return DlTermIntern(context); });
}

ZONELIB_API DlFile* DlFileOpen(DlContext* context, const char* name) {
  return DlCall<DlFile*>(nullptr, kDlLineFileOpen, {context, name},
                         [&] { return DlFileOpenIntern(context, name); });
}

ZONELIB_API int32_t DlFileClose(DlFile* file) {
  return DlCall(0, kDlLineFileClose, {file}, [&] { return DlFileCloseIntern(file); });
}

ZONELIB_API int32_t DlFileNumFields(DlFile* file) {
  return DlCall(-1, kDlLineFileNumFields, {file}, [&] { return file->FieldCount(); });
}

ZONELIB_API int32_t DlFileGetAttribute(DlFile* file, int32_t attribute, char* buffer,
                                       int32_t size) {
  return DlCall(0, kDlLineFileGetAttribute, {file},
                [&] { return file->GetAttribute(attribute, buffer, size); });
}

ZONELIB_API int32_t DlFileSearch(DlFile* file, const char* key) {
  return DlCall(0, kDlLineFileSearch, {file, key}, [&] { return file->SearchText(key, false); });
}

ZONELIB_API int32_t DlFileSearchInt(DlFile* file, int32_t key) {
  return DlCall(0, kDlLineFileSearchInt, {file, key ? file : nullptr},
                [&] { return file->SearchNumber(key, false); });
}

ZONELIB_API int32_t DlFileSearchNext(DlFile* file, const char* key) {
  return DlCall(0, kDlLineFileSearchNext, {file, key}, [&] { return file->SearchText(key, true); });
}

ZONELIB_API int32_t DlFileSearchNextInt(DlFile* file, int32_t key) {
  return DlCall(0, kDlLineFileSearchNextInt, {file, key ? file : nullptr},
                [&] { return file->SearchNumber(key, true); });
}

ZONELIB_API DlField* DlFieldGetN(DlFile* file, int32_t n) {
  return DlCall<DlField*>(nullptr, kDlLineFieldGetN, {file}, [&] { return file->Field(n); });
}

ZONELIB_API DlField* DlFieldGet(DlFile* file, const char* name) {
  return DlCall<DlField*>(nullptr, kDlLineFieldGet, {file, name},
                          [&] { return file->FieldByName(name); });
}

ZONELIB_API int32_t DlFieldGetAttribute(DlField* field, int32_t attribute, char* buffer,
                                        int32_t size) {
  return DlCall(0, kDlLineFieldGetAttribute, {field},
                [&] { return field->GetAttribute(attribute, buffer, size); });
}

ZONELIB_API int32_t DlFieldGetString(DlField* field, const char* format, char* buffer,
                                     int32_t size) {
  return DlCall(0, kDlLineFieldGetString, {field},
                [&] { return field->GetString(format, buffer, size); });
}

ZONELIB_API int32_t DlFieldGetNum(DlField* field) {
  return DlCall(0, kDlLineFieldGetNum, {field}, [&] { return field->GetNumber(); });
}

ZONELIB_API int32_t DlFieldGetValueAttribute(DlField* field, int32_t index, int32_t which,
                                             char* buffer, int32_t size) {
  return DlCall(0, kDlLineFieldGetValueAttribute, {field},
                [&] { return field->GetValueAttribute(index, which, buffer, size); });
}

ZONELIB_API int32_t DlErrorGet(DlContext* context, char* message, char* detail) {
  return Guarded(int32_t{0},
                 [&] { return context ? DlErrorGetIntern(context, message, detail) : 0; });
}

ZONELIB_API int32_t DlGetVersion(char* buffer) {
  return Guarded(int32_t{0}, [&] { return DlGetVersionIntern(buffer); });
}
