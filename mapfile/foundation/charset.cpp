// What the string routines need of the charsets: the system and OEM charset
// settings, which charsets are double-byte, and their lead bytes.
#include "mapfile/foundation/foundation.h"

namespace layerio {

int CharsetSystem() { return State().systemCharset; }
int CharsetOem() { return State().oemCharset; }
void CharsetSetSystem(int charset) { State().systemCharset = charset; }
int DefaultCharset() { return State().defaultCharset; }
void SetDefaultCharset(int charset) { State().defaultCharset = charset; }

int CharsetIsLeadByte(const char* position, int charset) {
  unsigned b = static_cast<unsigned char>(*position);
  auto in = [b](unsigned low, unsigned high) { return b >= low && b <= high; };
  switch (charset) {
    case 17:
      return in(0xA1, 0xC6) || in(0xC9, 0xF9);
    case 18:
      return in(0x81, 0xFE);
    case 19:
      return in(0x81, 0x84) || in(0x87, 0x9F) || in(0xE0, 0xEA) || b == 0xED || b == 0xEE ||
             in(0xFA, 0xFC);
    case 20:
      return in(0x81, 0xC8) || in(0xCA, 0xFD);
    case 31:
    case 33:
      return in(0x90, 0xAF);
    case 32:
      return in(0x81, 0x9F) || in(0xE0, 0xFC);
    case 52:
      return b == 0x8E || b == 0x8F || in(0x81, 0x9F) || in(0xE0, 0xEF);
    default:
      return 0;
  }
}

}  // namespace layerio
