#include "builder/builderror.h"

#include "platform/env.h"

int32_t BuildError::Record(int32_t code, const char* detail, const char* sourceFile, int line) {
  const int32_t result = QError::Record(code, detail, sourceFile, line);
  if (messageBox_ && HasError()) {
    char text[kQErrorMessageSize + kQErrorDetailSize + kQErrorLocationSize + 32];
    StrFormat(text, sizeof text, "Error: %d\n%s\n%s\n%s", int(Code()), Message(), Detail(),
              Location());
    platform::Env::Current().ShowMessage("Error", text);
  }
  return result;
}
