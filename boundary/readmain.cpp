#include "boundary/readmain.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/qfile.h"
#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "readmain";
constexpr const char* kListSource = "dllist";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineListEmpty = 196;
constexpr int kLineListNoMemory = 203;
constexpr int kLineListOpen = 215;
constexpr int kLineOutOfDate = 286;
constexpr const char* kOpenFailedText = "Error opening DLD file";
// A name in "File %s Not Found" is cut to 224 characters from 226 on.
constexpr size_t kNotFoundNameCut = 224;
constexpr size_t kNotFoundNameLimit = 226;
// The stamp of an attribute file is compared over at most 35 characters.
constexpr int32_t kStampCompare = int32_t(kGsaStampCompareLength);
// Characters of the name and value of pipAttributeInfoStruct, NUL aside.
constexpr int32_t kInfoNameChars = sizeof(pipAttributeInfoStruct::name) - 1;
constexpr int32_t kInfoValueChars = sizeof(pipAttributeInfoStruct::value) - 1;
// Decimals beyond which a scaled value's text is cut to "0." and zeros.
constexpr uint32_t kScaledDecimalsMax = sizeof(pipAttributeInfoStruct::value) + 20;

}  // namespace

pipError& DlGlobalError() {
  static pipError error;
  return error;
}

bool DlNullPassed(int line) {
  DlGlobalError().Record(Q_ERROR_EMPTY, kDlNullText, kSource, line);
  return false;
}

DlContext* DlInitIntern(const char* name) {
  auto* context = new (std::nothrow) DlContext;
  if (context) StrCopySized(context->name, name, sizeof context->name);
  return context;
}

int32_t DlTermIntern(DlContext* context) {
  QDlist::DeleteAll(context->files);
  delete context;
  return 1;
}

Quistrel* DlFileOpenIntern(DlContext* context, const char* name) {
  char copy[kDlNameSize + 1];
  StrCopySized(copy, name, sizeof copy);
  std::string path = GsaOpenName(copy);
  char detail[kQErrorDetailSize];
  if (FileSize64(path.c_str()) < 0) {
    std::string shown = path.size() >= kNotFoundNameLimit ? path.substr(0, kNotFoundNameCut) : path;
    StrFormat(detail, sizeof detail, "File %s Not Found", shown.c_str());
    context->error.Record(Q_ERROR_EMPTY, detail, kListSource, kLineListEmpty);
    return nullptr;
  }
  auto* file = new (std::nothrow) Quistrel(path.c_str(), context->error, context);
  if (!file) {
    context->error.Record(Q_ERROR_MEMORY, path.c_str(), kListSource, kLineListNoMemory);
    return nullptr;
  }
  if (!file->IsOpen()) {
    // The open's own reason goes along, so that a damaged file says how.
    if (context->error.HasError())
      StrFormat(detail, sizeof detail, "%s: %s %s", kOpenFailedText, context->error.Message(),
                context->error.Detail());
    else
      StrFormat(detail, sizeof detail, "%s", kOpenFailedText);
    delete file;
    context->error.Record(Q_ERROR_EMPTY, detail, kListSource, kLineListOpen);
    return nullptr;
  }
  context->files.AddTail(file);
  return file;
}

int32_t DlFileCloseIntern(Quistrel* file) {
  if (DlContext* context = file->Context()) context->files.Unlink(file);
  delete file;
  return 1;
}

int32_t DlErrorGetIntern(DlContext* context, char* message, char* detail) {
  if (context->error.HasError()) {
    if (message) StrCopySized(message, context->error.Message(), kQErrorMessageSize);
    if (detail) StrCopySized(detail, context->error.Detail(), kQErrorDetailSize);
    return context->error.Code();
  }
  return DlGlobalError().CopyOut(message, detail, kQErrorMessageSize);
}

int32_t DlGetVersionIntern(char* buffer) {
  if (!buffer) return 0;
  StrFormat(buffer, std::strlen(kDlVersionText) + 1, "%s", kDlVersionText);
  return 1;
}

std::string DlScaledText(int64_t value, uint32_t decimals) {
  const bool negative = value < 0;
  std::string digits = std::to_string(negative ? -(uint64_t)value : uint64_t(value));
  if (decimals > 0) {
    if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
    digits.insert(digits.size() - decimals, 1, '.');
  }
  return negative ? "-" + digits : digits;
}

// --- AttributeSearch ---

AttributeSearch::AttributeSearch() : context_(DlInitIntern("")) {}

AttributeSearch::~AttributeSearch() { Close(); }

void AttributeSearch::CloseFile() {
  if (file_) DlFileCloseIntern(file_);
  file_ = nullptr;
}

bool AttributeSearch::Open(const char* path, const char* creationTime) {
  char name[kDlNameSize];
  StrCopySized(name, path ? path : "", sizeof name);
  std::string attributePath = GsaAttributePath(name);
  CloseFile();
  mismatch_ = 0;
  if (context_) file_ = DlFileOpenIntern(context_, attributePath.c_str());
  if (file_) {
    char stamp[kGsaStampCompareLength + 1];
    char given[kGsaStampCompareLength + 1];
    file_->GetAttribute(3, stamp, kStampCompare);
    StrCopySized(given, creationTime ? creationTime : "", sizeof given);
    if (stamp[0] && std::strcmp(stamp, given) != 0) {
      CloseFile();
      mismatch_ = 1;
      context_->error.Record(Q_ERROR_OUT_OF_DATE, attributePath.c_str(), kSource, kLineOutOfDate);
    }
  }
  current_ = 0;
  isPending_ = false;
  return file_ != nullptr;
}

void AttributeSearch::Close() {
  current_ = 0;
  isPending_ = false;
  CloseFile();
  if (context_) DlTermIntern(context_);
  context_ = nullptr;
}

uint32_t AttributeSearch::SetRecord(int32_t recordNumber) {
  isPending_ = false;
  current_ = 0;
  if (context_ && file_ && recordNumber >= 1)
    current_ = uint32_t(file_->SearchNumber(recordNumber, false));
  return current_;
}

int32_t AttributeSearch::GetAttributeCount() {
  return context_ && file_ ? file_->FieldCount() - 1 : 0;
}

bool AttributeSearch::HasField(const char* name) {
  return context_ && file_ && file_->FieldByName(name) != nullptr;
}

const char* AttributeSearch::KeyFieldName() {
  return file_ && file_->FieldByName("qrecid") ? "qrecid" : "recid";
}

int32_t AttributeSearch::Fill(FieldId* field, pipAttributeInfoStruct* out) {
  if (!field) return -1;
  out->type = uint32_t(field->GetAttribute(10, nullptr, 0));
  out->width = uint32_t(field->GetAttribute(2, nullptr, 0));
  field->GetAttribute(0, out->name, kInfoNameChars);
  out->decimals = uint32_t(field->GetAttribute(3, nullptr, 0));
  if (isPending_) SetRecord(pending_);
  if (!current_) return 0;
  if (out->type == kGsaTypeText) return field->GetString("%s", out->value, kInfoValueChars);
  if (out->type != kGsaTypeNumber) return 0;
  int32_t result = field->GetString("%ld", out->value, kInfoValueChars);
  if (result == 1 && out->value[0] && out->decimals >= 1) {
    // The decimals come from the file. Past the value's room plus the
    // digits of any 32-bit number the text is "0." and zeros as far as the
    // value holds, so larger counts print the same without a text that long.
    const uint32_t decimals = std::min<uint32_t>(out->decimals, kScaledDecimalsMax);
    std::string text = DlScaledText(StrToInt(out->value), decimals);
    StrCopySized(out->value, text.c_str(), sizeof out->value);
  }
  return result;
}

int32_t AttributeSearch::GetAttributeInfoByNumber(uint32_t n, pipAttributeInfoStruct* out) {
  std::memset(out, 0, sizeof *out);
  if (!context_ || !file_) return -1;
  FieldId* field = file_->Field(int32_t(n));
  if (field && platform::AsciiEqualsIgnoreCase(field->Entry().name, KeyFieldName())) {
    std::memset(out, 0, sizeof *out);
    field = n < UINT32_MAX ? file_->Field(int32_t(n + 1)) : nullptr;
  }
  return Fill(field, out);
}

int32_t AttributeSearch::GetAttributeInfoByName(const char* name, pipAttributeInfoStruct* out) {
  std::memset(out, 0, sizeof *out);
  if (!context_ || !file_ || !name || platform::AsciiEqualsIgnoreCase(name, KeyFieldName()))
    return -1;
  return Fill(file_->FieldByName(name), out);
}

int32_t AttributeSearch::GetAttributeNameByNumber(uint32_t n, char* buffer, int32_t size) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  FieldId* field = context_ && file_ ? file_->Field(int32_t(n)) : nullptr;
  if (!field) return 0;
  int32_t result = field->GetAttribute(0, buffer, size);
  if (platform::AsciiEqualsIgnoreCase(buffer, KeyFieldName())) {
    buffer[0] = '\0';
    return 0;
  }
  return result;
}
