// The descriptor of an open attribute file (base/gsaformat.h): the header in
// the header page, the field entries and the value-description records
// behind them.
#pragma once

#include <vector>

#include "base/gsaformat.h"
#include "base/pagefile.h"
#include "base/qerror.h"

class CIniFile {
 public:
  // Reads the descriptor of file. False, with code 111 recorded in error,
  // when the header page cannot hold it or the entries and records it
  // announces do not lie whole inside the file.
  bool Read(QPagedFile& file, QError& error);

  const GsaDescriptor& Header() const { return header_; }
  const std::vector<GsaFieldEntry>& Fields() const { return fields_; }
  const std::vector<GsaValueRecord>& Values() const { return values_; }

 private:
  GsaDescriptor header_;
  std::vector<GsaFieldEntry> fields_;
  std::vector<GsaValueRecord> values_;
};
