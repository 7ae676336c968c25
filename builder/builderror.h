// The build side's error record: a QError that, with its message-box switch
// on, also shows each error it records in a message box titled "Error" with
// the text "Error: %d\n%s\n%s\n%s" (code, message, detail, location). The
// records of the interchange text reader and of the page-file builders keep
// the switch off, so their errors are recorded and not shown.
#pragma once

#include "base/qerror.h"

class BuildError : public QError {
 public:
  explicit BuildError(bool messageBox = false) : messageBox_(messageBox) {}
  int32_t Record(int32_t code, const char* detail, const char* sourceFile, int line) override;
  void SetMessageBox(bool on) { messageBox_ = on; }

 private:
  bool messageBox_;
};
