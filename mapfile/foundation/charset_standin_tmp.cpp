// Temporary stand-ins for the charset table and conversion until the charset
// code lands: the 57 rows with their names, flags and line ends, and a
// conversion that converts nothing.
#include "mapfile/foundation/foundation.h"

namespace layerio {
namespace {

constexpr uint32_t kReplace = uint32_t('_') << 16;
constexpr uint32_t kDouble = 1;

const CharsetRow kRows[kCharsetCount] = {
    {"Neutral", kReplace, "\r\n"},
    {"ISO8859_1", kReplace, "\n"},
    {"ISO8859_2", kReplace, "\n"},
    {"ISO8859_3", kReplace, "\n"},
    {"ISO8859_4", kReplace, "\n"},
    {"ISO8859_5", kReplace, "\n"},
    {"ISO8859_6", kReplace, "\n"},
    {"ISO8859_7", kReplace, "\n"},
    {"ISO8859_8", kReplace, "\n"},
    {"ISO8859_9", kReplace, "\n"},
    {"WindowsLatin1", kReplace, "\r\n"},
    {"WindowsLatin2", kReplace, "\r\n"},
    {"WindowsArabic", kReplace, "\r\n"},
    {"WindowsCyrillic", kReplace, "\r\n"},
    {"WindowsGreek", kReplace, "\r\n"},
    {"WindowsHebrew", kReplace, "\r\n"},
    {"WindowsTurkish", kReplace, "\r\n"},
    {"WindowsTradChinese", kReplace | kDouble, "\r\n"},
    {"WindowsSimpChinese", kReplace | kDouble, "\r\n"},
    {"WindowsJapanese", kReplace | kDouble, "\r\n"},
    {"WindowsKorean", kReplace | kDouble, "\r\n"},
    {"MacRoman", kReplace, "\r"},
    {"MacArabic", kReplace, "\r"},
    {"MacGreek", kReplace, "\r"},
    {"MacHebrew", kReplace, "\r"},
    {"MacCentralEuropean", kReplace, "\r"},
    {"MacCroatian", kReplace, "\r"},
    {"MacCyrillic", kReplace, "\r"},
    {"MacIcelandic", kReplace, "\r"},
    {"MacThai", kReplace, "\r"},
    {"MacTurkish", kReplace, "\r"},
    {"MacTradChinese", kReplace | kDouble, "\r"},
    {"MacJapanese", kReplace | kDouble, "\r"},
    {"MacKorean", kReplace | kDouble, "\r"},
    {"CodePage437", kReplace, "\r\n"},
    {"CodePage850", kReplace, "\r\n"},
    {"CodePage852", kReplace, "\r\n"},
    {"CodePage857", kReplace, "\r\n"},
    {"CodePage860", kReplace, "\r\n"},
    {"CodePage861", kReplace, "\r\n"},
    {"CodePage863", kReplace, "\r\n"},
    {"CodePage865", kReplace, "\r\n"},
    {"CodePage855", kReplace, "\r\n"},
    {"CodePage864", kReplace, "\r\n"},
    {"CodePage869", kReplace, "\r\n"},
    {"LICS", kReplace, "\r\n"},
    {"LMBCS", kReplace | kDouble, "\r\n"},
    {"LMBCS1", kReplace, "\r\n"},
    {"LMBCS2", kReplace, "\r\n"},
    {"MacSimpChinese", kReplace | kDouble, "\r"},
    {"?PackedEUCTradChinese", kReplace | kDouble, "\n"},
    {"?PackedEUCSimpChinese", kReplace | kDouble, "\n"},
    {"PackedEUCJapanese", kReplace | kDouble, "\n"},
    {"?PackedEUCKorean", kReplace | kDouble, "\n"},
    {"WindowsThai", kReplace, "\r\n"},
    {"WindowsBalticRim", kReplace, "\r\n"},
    {"WindowsVietnamese", kReplace, "\r\n"},
};

}  // namespace

const CharsetRow* CharsetTable() { return kRows; }

int16_t CharsetConvert(char*, size_t, int from, int to) {
  if (from == to || from == 0 || to == 0) return 0;
  return 1;
}

}  // namespace layerio
