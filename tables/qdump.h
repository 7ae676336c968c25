// CQmsDump: the base through which records, field maps and tables write
// their state to a dump file. The file is opened for appending by OpenDump
// and must be open for PutDumpMessage (22000005 otherwise); each object owns
// its own stream, so assigning one dump object to another copies nothing.
#pragma once

#include <fstream>
#include <memory>

#include "tables/qcodes.h"
#include "tables/qstringp.h"

class CQmsDump {
 public:
  virtual ~CQmsDump();
  // Writes the object's state; more when detail is 1.
  virtual void Dump(unsigned char detail) = 0;

  // A null name fails with 23000000, a file that does not open with 22000005.
  void OpenDump(const char* name);
  // 22000004 when the close fails, also when no file was open.
  void CloseDump();
  // Writes the text unchanged (no line end added).
  void PutDumpMessage(const char* text);
  // At most 1023 formatted characters.
  void PutDumpData(const char* format, ...) __attribute__((format(printf, 2, 3)));
  const char* GetDumpFileName() const { return m_DumpFileName; }

  CQmsDump& operator=(const CQmsDump&) { return *this; }

 protected:
  CQmsDump() = default;

 private:
  CQmsDump(const CQmsDump&) = delete;

  CQmsStringPtr m_DumpFileName;
  std::unique_ptr<std::ofstream> m_pDumpFile;  // made when first opened
};
