#include "boundary/cinifile.h"

#include <memory>

namespace {

constexpr const char* kSource = "cinifile";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineSignature = 28;
constexpr int kLineDescriptorSize = 31;
constexpr int kLineCountsTooLarge = 35;
constexpr int kLineFieldsUnreadable = 38;
constexpr int kLineValuesUnreadable = 47;

bool Damaged(QError& error, QPagedFile& file, const char* where, int line) {
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, "%s: %s", where, file.File().Name());
  error.Record(Q_ERROR_CHECKSUM, detail, kSource, line);
  return false;
}

}  // namespace

bool CIniFile::Read(QPagedFile& file, QError& error) {
  fields_.clear();
  values_.clear();
  if (!GsaReadDescriptor(file.HeaderPage(), file.HeaderPageSize(), &header_))
    return Damaged(error, file, "CIniFile::CIniFile/0", kLineSignature);
  int64_t size = file.File().Size();
  if (size < 0 || !GsaDescriptorFits(header_, uint64_t(size)))
    return Damaged(error, file, "CIniFile::CIniFile/1", kLineDescriptorSize);

  // The counts now fit the file, so the buffers below are bounded by it.
  const uint64_t fieldCount = header_.TotalFields();
  if (fieldCount * kGsaFieldEntrySize > UINT32_MAX ||
      uint64_t(header_.valueCount) * kGsaValueRecordSize > UINT32_MAX)
    return Damaged(error, file, "CIniFile::CIniFile/1", kLineCountsTooLarge);
  std::vector<uint8_t> bytes(fieldCount * kGsaFieldEntrySize);
  if (!bytes.empty() &&
      !file.File().ReadAt(header_.fieldOffset, bytes.data(), uint32_t(bytes.size())))
    return Damaged(error, file, "CIniFile::CIniFile/1", kLineFieldsUnreadable);
  fields_.resize(fieldCount);
  for (uint64_t i = 0; i < fieldCount; ++i)
    GsaReadFieldEntry(&bytes[i * kGsaFieldEntrySize], &fields_[i]);

  bytes.assign(uint64_t(header_.valueCount) * kGsaValueRecordSize, 0);
  int64_t at = int64_t(header_.fieldOffset) + int64_t(fieldCount * kGsaFieldEntrySize);
  if (!bytes.empty() && !file.File().ReadAt(at, bytes.data(), uint32_t(bytes.size())))
    return Damaged(error, file, "CIniFile::CIniFile/2", kLineValuesUnreadable);
  values_.resize(header_.valueCount);
  for (uint32_t i = 0; i < header_.valueCount; ++i)
    GsaReadValueRecord(&bytes[size_t(i) * kGsaValueRecordSize], &values_[i]);
  return true;
}
