// The map-file access foundation: the runtime under all of Layerio.
//
// This is the one internal header of the foundation; every routine the
// coordinate-system, map-object and table code calls is declared here, in
// sections by family. Nothing here is exported from liblayerio.so.
//
// Conventions that hold for every routine below:
//   - The library is single-threaded by contract. Its process-wide state sits
//     in one place (FoundationState, State()).
//   - Routines never throw to their callers. A failure pushes
//     (severity 4, code, up to two argument texts) onto the ErrorStack and
//     returns the routine's failure value (0, null, -1 or a defined empty
//     result). Most codes have no text in the message table and reach callers
//     as numbers.
//   - ErrorFatal unwinds only when fatal-error trapping is on and an exported
//     entry's guard (RunGuarded) is armed; it then throws FatalTrap, which
//     only the guard catches. Code that may reach ErrorFatal holds no heap
//     block it would lose while unwinding.
//   - Texts are 8-bit texts in the system charset, which may be double-byte;
//     case and character classes come from 256-entry tables, never from the
//     C library's locale. Numbers are read and written locale-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

// ===== Common records ========================================================

// The date record: month or day 0 is the empty date.
struct DateRec {
  int16_t year;
  uint8_t month;
  uint8_t day;
};
static_assert(sizeof(DateRec) == 4);

// The tagged value (kinds 0..27; see the value family below): a kind byte,
// a 32-bit word and an 8-byte payload (a double, an i32, an i16, a date
// record, a byte or a pointer). Kinds that carry a pointer keep their 32-bit
// aux word (text offset, width, object sub-kind) in the word beside the kind,
// which the other kinds copy along and never read; so the record stays at 16
// bytes with 8-byte pointers.
struct Value {
  uint8_t kind;
  uint8_t kindPad[3];
  int32_t aux;
  union {
    double d;
    int32_t i;
    int16_t s;
    DateRec date;
    uint8_t b;
    void* p;
  } u;
};
static_assert(sizeof(Value) == 16 && offsetof(Value, aux) == 4 && offsetof(Value, u) == 8,
              "values are stored in 16-byte slots");

// Value kinds whose numbers are stored in values, tokens and compiled code.
enum ValueKind : uint8_t {
  kValueNone = 0,
  kValueText = 1,
  kValueFloat = 2,
  kValueInteger = 3,
  kValueSmallInt = 4,
  kValueDate = 5,
  kValueLogical = 6,
  kValueOpaque = 7,
  kValueDecimal = 8,
  kValueMemo = 9,
  kValueBorrowedText = 10,
  kValuePen = 11,
  kValueBrush = 12,
  kValueObject = 13,
  kValueSymbol = 14,
  kValueFont = 15,
  kValueFixedText = 16,
  kValueKeyword = 20,
  kValueIdentifier = 21,
  kValueBorrowedIdentifier = 24,
  kValueOwnedBlock = 27,
};

// An opaque coordinate system of the coordinate-system code.
struct CoordSys;

// ===== Error stack, message texts and fatal errors ===========================

inline constexpr int kErrorRecordCount = 30;
inline constexpr int kErrorTextArea = 9000;
inline constexpr int kErrorFormatBuffer = 1024;
inline constexpr int16_t kErrorSeverity = 4;
inline constexpr int16_t kErrorSeparatorCode = -1;

// Codes the foundation itself pushes or hands out.
enum ErrorCode : int16_t {
  kErrInternal = 479,          // "Internal Error: %u": a trapped fatal error
  kErrTooManyErrors = 588,     // "Too many errors.  Error information has been lost."
  kErrAllocFailed = 632,
  kErrResizeFailed = 633,
  kErrCarriesNumber = 848,     // ErrorLastCode reads the number in argument text 0
  kErrResourceMissing = 973,
  kErrNotInitialised = 1929,
  kErrInitRefused = 1930,
};

struct ErrorRecord {
  int16_t severity;
  int16_t code;  // 0 ends the used part; -1 separates batches
  struct Slot {
    uint16_t offset;  // into the text area
    uint16_t length;  // with the NUL; 0 = no text
  } lead, arg0, arg1;
};
static_assert(sizeof(ErrorRecord) == 16);

// One heap block, allocated at initialisation with MemAllocZero.
struct ErrorStack {
  uint16_t count;     // pushed since the last clear (goes on past 30)
  uint16_t cursor;    // next record ErrorReport reads
  uint16_t reported;  // stored since the last clear (ErrorCount)
  uint16_t pending;   // stored since the last separator
  uint16_t overflow;  // 1 once a record or a text had to be dropped
  ErrorRecord records[kErrorRecordCount];
  char text[kErrorTextArea];
  char format[kErrorFormatBuffer];
};
static_assert(sizeof(ErrorStack) == 10514);

// Allocates / frees the process-wide stack (the interface frame calls these
// at its first initialisation and last shutdown). Create answers 1 or 0.
int16_t ErrorStackCreate();
void ErrorStackDestroy();

void ErrorClear();
void ErrorPush(int16_t severity, int16_t code, const char* text0, const char* text1);
void ErrorSeparate();
// The record's text into the stack's format buffer; returns that buffer.
const char* ErrorFormat(const ErrorRecord& record);
int16_t ErrorReport(uint16_t restart, char* buffer, int16_t size);
int16_t ErrorReportFatal();
int32_t ErrorLastCode();
int16_t ErrorHasCode(uint16_t code);
uint16_t ErrorCount();

// Message table lookups. MsgGetText's text stays valid for ten further calls.
const char* MsgGetText(int32_t id);
int16_t MsgExists(int32_t id);

// Unwinds to the armed guard when trapping is on (see the top of this file);
// otherwise returns 0 at once. The fatal text is kept (FatalText()).
int ErrorFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* FatalText();
// 0: the trapping flag; any other flag inverts it and gives the new value.
// The interface exports it unguarded as PXToggleFatalErrors (ordinal 111).
uint16_t TrapToggle(uint16_t flag);
void VersionFormat(char* buffer, int16_t version);

// The trap's exception; thrown by ErrorFatal, caught only by RunGuarded.
class FatalTrap {
 public:
  FatalTrap() = default;
};

// The jump point of the running exported entry: armed while the object lives.
class GuardArm {
 public:
  GuardArm();
  ~GuardArm();
  GuardArm(const GuardArm&) = delete;
  GuardArm& operator=(const GuardArm&) = delete;
};

// The guard of an exported entry: clears the stack, arms the jump point and
// runs body(); a trapped fatal error pushes 479 and gives `failure`. Nothing
// thrown leaves it.
template <class R, class Body>
R RunGuarded(R failure, Body&& body) noexcept {
  try {
    ErrorClear();
    GuardArm arm;
    return body();
  } catch (const FatalTrap&) {
    ErrorPush(kErrorSeverity, kErrInternal, nullptr, nullptr);
    return failure;
  } catch (...) {
    ErrorPush(kErrorSeverity, kErrInternal, nullptr, nullptr);
    return failure;
  }
}

// ===== Memory, lists, padded copies, number parsing, rounding ================

using MemHandle = void*;

void* MemAlloc(size_t size);
void* MemRealloc(void* block, size_t size);
int16_t MemFree(void* block);
void* HandleLock(MemHandle handle);
int16_t MemAllocZeroEx(size_t size, MemHandle* handle, void** pointer);
int16_t MemAllocZero(size_t size, MemHandle* handle, void** pointer);
int16_t MemAllocZeroGlobal(size_t size, MemHandle* handle, void** pointer);
// Frees the block the variable holds and nulls it; 1.
int16_t MemFreePtr(void** pointer);
template <class T>
int16_t MemFreePtr(T** pointer) {
  void* p = *pointer;
  int16_t r = MemFreePtr(&p);
  *pointer = nullptr;
  return r;
}
int16_t MemResize(size_t size, MemHandle* handle, void** pointer);
int16_t MemReallocChecked(size_t size, MemHandle* handle, void** pointer);
size_t MemSize(void* const* pointer);
size_t MemBlockSize(const MemHandle* handle);

// Singly linked lists: every element begins with its next pointer.
struct ListNode {
  ListNode* next;
};
struct List {
  ListNode* first;
  ListNode* last;
};

void ListInit(List* list);
void ListInsert(List* list, void* element, int where);  // 0 head, 1 tail
int16_t ListPop(List* list, void** out, int which);      // 0 first, 1 last
int16_t ListUnlink(List* list, void* element);
void ListFreeAll(List* list);
void* ListNext(const void* element);
void* ListFirst(const List* list);
void* ListAt(const List* list, int32_t n);
void ListInsertAt(List* list, void* element, int32_t position);
int32_t ListCount(const List* list);

char* StrCopyPadded(char* destination, const char* source, size_t size);
int32_t StrStripLeading(char* text);
int32_t StrTrimRight(char* text);
void BytesReverse(void* buffer, size_t length);
using CompareFn = int (*)(const void* key, const void* element);
void* ArraySearch(const void* key, const void* array, int32_t count, size_t elementSize,
                  CompareFn compare, int16_t* found);

// Parsers: the end of the number in the text, or null on failure (then the
// out value is 0). The Ex forms with a clean-up flag first rewrite the text
// with NumUnlocalize.
const char* NumParseShortEx(char* text, int16_t* out, int cleanUp);
const char* NumParseShort(const char* text, int16_t* out);
const char* NumParseLongEx(char* text, int32_t* out, int cleanUp);
const char* NumParseLongEx2(char* text, int32_t* out, int cleanUp);
const char* NumParseLong(const char* text, int32_t* out);
const char* NumParseLongPlain(const char* text, int32_t* out);
const char* NumParseHex(const char* text, uint32_t* out);
const char* NumParseDoubleEx(char* text, double* out, int cleanUp);
const char* NumParseDouble(const char* text, double* out);

double NumRoundToStep(double x, double step);
int32_t IntAddSaturate(int32_t a, int32_t b);
double NumMulDiv(double a, double b, double c);
int32_t IntDivRound(int32_t a, int32_t b);
int64_t NumRound(double x);
// x + 0.999 above 0, x - 0.999 otherwise, truncated towards zero (a
// decimals count from a logarithm); NaN gives 0, the result is clamped to
// the 32-bit range.
int32_t NumRoundAwayFromZero(double x);

// ===== Double-byte-safe strings, case, comparison, pool, quoting =============

// On when the system charset is a double-byte charset.
int DbcsMode();

// No entry reaches these yet but MbsNext and MbsIsLeadByte: only the tests call the others.
char* MbsNext(const char* position);
char* MbsPrev(const char* start, const char* position);
int MbsIsLeadByte(const char* position);
char* MbsChr(const char* text, int byte);
char* MbsRchr(const char* text, int byte);
size_t MbsCspn(const char* text, const char* set);
size_t MbsSpn(const char* text, const char* set);
char* MbsPbrk(const char* text, const char* set);
int32_t MbsFindLastOf(const char* text, const char* set);
char* MbsReverse(char* text);
char* MbsTok(char* text, const char* delimiters);

int CharToUpper(int c);
int CharToLower(int c);
char* StrToUpper(char* text);
char* StrToLower(char* text);
int CharIsAlpha(int c);
int CharIsAlnum(int c);
int CharIsPrint(int c);
int StrCompareNoCase(const char* a, const char* b);
int StrCompareNoCaseN(const char* a, const char* b, size_t n);
int StrEqual(const char* a, const char* b);
int StrEqualNoCase(const char* a, const char* b);
int StrEqualN(const char* a, const char* b, size_t n);
int StrEqualNoCaseN(const char* a, const char* b, size_t n);
char* StrMapBytes(char* text, const uint8_t* table);

// No entry reaches the string pool yet: only the tests call it.
// The string pool: entries {user data; text} from byte 1, ended by an entry
// with an empty text; texts unique ignoring case. Every call on one pool
// passes the same data size.
uint32_t StrPoolAdd(MemHandle* pool, const char* text, const void* data, size_t dataSize,
                    int sorted);
void StrPoolGetAt(MemHandle pool, uint32_t offset, const char** text, size_t* size, void* data,
                  size_t dataSize);
int16_t StrPoolGetNth(MemHandle pool, int32_t n, const char** text, size_t* size, void* data,
                      size_t dataSize);
int16_t StrPoolFind(MemHandle pool, const char* text, void* data, size_t dataSize);

// Quoting; destination and source may be the same buffer. StrQuote gives
// null when size is below 3.
char* StrQuote(char* destination, const char* source, const char* quote, size_t size);
char* StrQuoteDefault(char* destination, const char* source, size_t size);
char* StrUnquote(char* destination, const char* source, const char* quote, size_t size);

// Case and class tables of one single-byte charset.
struct CaseTables {
  uint8_t upper[256];
  uint8_t lower[256];
  uint8_t alpha[256];  // 1 letter
  uint8_t digit[256];  // 1 digit
};
// The tables the string routines use now (those of the system charset).
const CaseTables& CurrentCaseTables();
// Installs the tables of the system charset; null restores the default ones
// (Windows Latin-1 for single-byte charsets, ASCII for double-byte ones).
void SetCaseTables(const CaseTables* tables);

// ===== Charsets and conversions ==============================================
// A text read from a file in another charset is converted into the system
// charset, and back when written. Single-byte charsets convert through
// 256-byte maps built from per-charset Unicode tables and kept in a cache of
// kCharsetCacheSlots slots; Shift-JIS and packed EUC Japanese convert into
// each other; anything else double-byte becomes the target's replacement
// character ("_"). This platform has no host code pages: the system charset
// stays 10 (WindowsLatin1) and the OEM charset 34 (CodePage437) unless set.

// A charset code, 0..56.
using Charset = int;
inline constexpr int kCharsetCount = 57;
inline constexpr int kDefaultSystemCharset = 10;  // WindowsLatin1
inline constexpr int kDefaultOemCharset = 34;     // CodePage437
inline constexpr int kCharsetCacheSlots = 10;

struct CharsetRow {
  const char* name;
  uint32_t flags;  // bit 0 double-byte; bits 16-23 the replacement character
  const char* lineEnd;
};

// One slot of the conversion cache; codes -1 while empty.
struct CharsetConversion {
  int from = -1;
  int to = -1;
  uint8_t map[256] = {};
};

int CharsetSystem();
int CharsetOem();
// The library's default charset: the charset of texts of a map without a
// file of its own, and the target of every text read from a map file.
int DefaultCharset();
void SetDefaultCharset(int charset);
// Sets the system charset (the interface checks that no table is open) and
// installs its case and class tables.
void CharsetSetSystem(int charset);
inline int CharsetIsDoubleByte(int charset) {
  return (charset >= 17 && charset <= 20) || (charset >= 31 && charset <= 33) || charset == 46 ||
         (charset >= 49 && charset <= 53);
}
int CharsetIsLeadByte(const char* position, int charset);

// The charset of a Windows ANSI code page (0 when none) and of an OEM code
// page (34 when none).
int CharsetFromAnsiCodePage(int codePage);
int CharsetFromOemCodePage(int codePage);

// Makes the conversions usable, installs the system charset's case tables and
// builds the normalization tables; 0 (after ErrorFatal with message 973)
// when no normalization table could be built.
int16_t CharsetInit();
// Converts the NUL-terminated text in place; `capacity` is the size of its
// buffer. 1 when converted, 0 when no conversion applies (codes outside
// 1..56 or equal, LMBCS as the source, a pair without tables, no terminator
// within capacity). A text that grows (Shift-JIS to EUC) is cut at the last
// character that fits; nothing is written past capacity.
int16_t CharsetConvert(char* text, int from, int to, size_t capacity);
// The cache slot whose map converts `from` to `to`; -1 before CharsetInit,
// for codes outside 1..56, equal codes or a charset without a Unicode table.
// A map built by this call stores its count of bytes without a target in
// *unconverted (when not null).
int CharsetConvertTable(int from, int to, int* unconverted);
const uint8_t* CharsetConversionMap(int slot);
// Lotus LMBCS text (group 1 or 2) converted in place to the system charset;
// 0 when the group maps cannot be had.
int16_t CharsetFromLmbcs(int group, char* text);
const char* CharsetName(int code);       // "" outside 0..56
const char* CharsetShortName(int code);  // "MAC", "XASCII", "LICS" or "ANSI"
int CharsetFromName(const char* name);   // -1 when unknown
const CharsetRow* CharsetTable();        // kCharsetCount rows
const char* CharsetLineEnd(int code);    // "\r\n" outside 0..56
// The case and class tables of a single-byte system charset; null for the
// others (the string routines then use their defaults).
const CaseTables* CharsetCaseTables(int code);

// ===== Normalization tables and CRC-16 stamps ================================
// A normalization table maps each byte to its collation value: entry 0 is 0,
// every other entry 1..255. Table 1 serves every charset; tables 2 and 3
// exist only while the system charset is 1 (ISO8859_1) or 10 (WindowsLatin1).
// Each table is built from a definition text in the message table (a run of
// ids ended by a row beginning with a blank) and is known by its CRC-16.
//
// Definition errors go through ErrorFatal: with trapping on the first one
// ends the build (and the guarded entry); with trapping off the build goes on
// and the table may keep a 0 for a byte that was never named.

inline constexpr int32_t kNormGenericFirstId = 10000;
// Under WindowsLatin1 the first of stamps 1, 3, 4 that comes out as
// kNormStampClash is recorded as kNormStampReplaced.
inline constexpr uint32_t kNormStampClash = 44414;
inline constexpr uint32_t kNormStampReplaced = 5607;

// Build table 1, 2 or 3 from the definition starting at firstId: the table,
// or null when firstId has no row (the table built before is kept then).
uint8_t* NormTableBuild(int32_t firstId);
uint8_t* NormTableBuild2(int32_t firstId);
uint8_t* NormTableBuild3(int32_t firstId);
// Stores one item of a definition ("0x" and hex digits, or one character)
// with the value in table (entries below limit).
void NormSetValue(const char* item, uint8_t* table, int limit, int value);
// Builds the tables and stamps of the system charset; 0 when there is no
// definition for table 1 (after the fatal routine with message 973).
int16_t NormTablesInit();
const uint8_t* NormTable(int which);  // 1..3, null before it is made
uint32_t NormStamp(int which);        // 1..4, 0 when not computed
// CRC-16/ARC (reflected 0xA001, initial 0, no final XOR); 0 for no bytes.
uint16_t Crc16(const void* bytes, size_t length);
// -1, 0, 1: the texts compared byte by byte after mapping through table 1.
int StrCompareCollated(const char* a, const char* b);

struct NormState {
  uint8_t tables[3][256];
  bool built[3];
  uint32_t stamps[4];
  uint16_t crcTable[256];
  bool crcBuilt;
};

// ===== Keyword tokenizer =====================================================

struct Keyword {
  const char* text;
  uint16_t id;
  uint16_t statementHead;
};
inline constexpr int kKeywordCount = 710;
// Keyword ids the parsers name.
enum KeywordId : int {
  kKwInclude = 7,
  kKwDefine = 8,
  kKwGlobal = 9,
  kKwMod = 11,
  kKwOr = 17,
  kKwAnd = 18,
  kKwNot = 19,
  kKwBetween = 26,
  kKwAny = 27,
  kKwAll = 28,
  kKwIn = 29,
  kKwWithin = 31,
  kKwContains = 32,
  kKwIntersects = 33,
  kKwLike = 36,
  kKwComma = 1027,
  kKwOpen = 1030,
  kKwClose = 1031,
  kKwUnsupported = 1024,
  kKwUnits = 1136,
  kKwEarth = 1554,
  kKwNonEarth = 1555,
  kKwBounds = 1556,
  kKwProjection = 1557,
  kKwCoordSys = 1558,
  kKwEntirely = 1596,
  kKwPartly = 1598,
  kKwNull = 1603,
  kKwAffine = 1909,
  kKwEscape = 1659,
  kKwSupportMZ = 2154,
};
// Token classes asked for by parsers; other numbers are keyword ids.
enum TokenClass : int { kTokIdentifier = 1, kTokString = 2, kTokNumber = 3 };

void TokNext();
int16_t TokIs(int cls);
int16_t TokExpect(int cls);
int16_t TokCheck(int cls);
void TokError(int cls);
void TokSkipStatement();
char* TokText(const Value* token, char* buffer, int size);
const char* TokKeywordText(int id);
int16_t TokIsStatementHead(const Value* token);
int TokScanWord(const char* position, int* length);
int16_t IdentIsValid(const char* text);
void IdentMakeValid(char* text);
char* StrSkipSpace(const char* position);
int TokHash(const char* text);
// The id of a keyword word (any case), 1 when it is none.
int TokKeywordId(const char* word);

// Starting and ending the token stream. Begin drops any input, takes the
// text (or the file's text) as the only source and reads the first token;
// BeginFile gives 0 (error 524) when the file cannot be read. End drops the
// input and the current token; the macros stay until TokMacrosClear.
int16_t TokBeginText(const char* text);
int16_t TokBeginFile(const char* path);
void TokEnd();
void TokMacrosClear();
// The current token (null at the end of the input) and its text buffer.
const Value* TokCurrent();
const char* TokCurrentText();
int32_t TokLineNumber();
// On: statement-head keywords cannot be taken as identifiers or strings.
void TokSetReserveHeads(int on);

// ===== Expression parser and compiler ========================================

int16_t ExprParse(uint8_t** code, uint8_t* level);
int16_t ExprParseEvaluate(Value* result, int flag);
int16_t ExprEvaluate(const uint8_t* code, Value* result);
int16_t ExprIsColumnRef(const uint8_t* code, uint32_t* column, uint8_t* extra);
int16_t ExprUsesColumn(const uint8_t* code, uint32_t column);
int16_t ExprEqual(const uint8_t* a, const uint8_t* b);
int ExprNextOp(const uint8_t** position, uint8_t* cls, uint16_t* offset);
int ExprFindVariable(const char* name, int16_t* index);
void ExprEmitByte(uint8_t byte);
void ExprEmitConstant(uint8_t cls, const void* data);
void ExprEmitReference(uint8_t opcode, Value* array, int16_t index);
void ExprAppend(int toConstants, const void* bytes, size_t count);

// ===== Locale separators, ticks and colour similarity ========================

// Date orders: 0 month-day-year, 1 day-month-year, 2 year-month-day,
// 5 year-day-month.
int16_t LocaleLoadDateFormat();
// The decimal and thousands separators and the digit grouping of the user's
// locale (read at initialisation). 1 when loaded.
int16_t LocaleLoadNumberFormat();
void DateFormatGet(int useLocale, int16_t* order, char* separator);
// The separators number texts use; the fixed ".", "," and 3 while the
// ignore-locale-separators switch is on. A separator 0 means none.
char LocaleDecimalSeparator();
char LocaleThousandSeparator();
int LocaleGrouping();
// The switch of the running session, else the process-wide one. On: number
// texts use the fixed separators whatever the locale says.
int LocaleSeparatorsIgnored();
void LocaleSetIgnoreSeparators(int on);
uint32_t ClockTicks();
int32_t ColorSimilarity(uint32_t a, uint32_t b);

// ===== Typed value ===========================================================

// The font record of map objects and of kind-15 values (64 bytes). Its
// clause is written here so that a value prints a font as the object code
// does: "Font ("name",style,size,foreground[,background])".
inline constexpr int kStyleNameSize = 32;  // at most 31 characters and a zero
struct FontStyle {
  uint8_t style;  // eight style bits
  uint16_t flagA, flagB, flagC;  // 0 or 1: bits 8, 9, 10 of the stored style
  char name[kStyleNameSize];
  int16_t size;
  uint32_t foreground;
  uint32_t background;
  uint8_t backgroundFlag;
  double kept;  // 0.0 when read from a compact record
};
static_assert(offsetof(FontStyle, flagA) == 2 && offsetof(FontStyle, flagC) == 6 &&
              offsetof(FontStyle, name) == 8 && offsetof(FontStyle, size) == 40 &&
              offsetof(FontStyle, foreground) == 44 && offsetof(FontStyle, background) == 48 &&
              offsetof(FontStyle, backgroundFlag) == 52 && offsetof(FontStyle, kept) == 56 &&
              sizeof(FontStyle) == 64);

// The stored 16-bit font style: bits 0-7 the style byte, bits 8, 9, 10 the
// flags A, B, C. Unpacking replaces the style byte and sets the three flags
// to 0 or 1.
uint16_t FontStylePack(const FontStyle* font);
void FontStyleUnpack(uint16_t style, FontStyle* font);
// Writes "Font ("name",style,size,foreground" and then ",background" when
// the background flag or flag A is set, then ")" (no blank) into out (at
// most size bytes with the terminator); returns its length. Colours are
// masked to 24 bits; a quote in the name is doubled. 0 and an empty text
// when the clause does not fit.
size_t StyleClauseFont(FontStyle font, char* out, size_t size);

// What kind-13 values need of the map-object code, which owns the object
// record: installed by that code (ValueSetObjectServices) when the library
// initialises. Without them an object cannot be copied into a value (the
// copy fails with 479), a value's object has nothing of its own freed and
// no kind name.
struct MapObjectServices {
  // The size of the block a kind-13 value owns: one object record.
  size_t objectSize;
  // Copies an object and what it owns into a fresh zeroed block; 0 when out
  // of memory, with nothing left allocated.
  int (*copy)(const void* source, void* target);
  // Frees what an object owns, not its block.
  void (*free)(void* object);
  // The name of the object's kind, bounded by size.
  void (*kindName)(const void* object, char* buffer, size_t size);
};
// Null uninstalls. The record must outlive its installation.
void ValueSetObjectServices(const MapObjectServices* services);

int16_t ValueInit(Value* value, uint8_t kind, uint8_t size);
int16_t ValueAlloc(uint8_t size, Value* value, char** text);
int16_t ValueSet(Value* value, int kind, ...);
int16_t ValueSetObject(const void* object, uint8_t subKind, Value* value);
// Copies a font or symbol name: at most 31 characters, the 32 bytes padded.
void FontNameCopy(const char* source, char* destination);
void ValueFree(Value* value);
void ValueBlank(Value* value);
void ValuePadFixed(Value* value);
void ValueAttachBuffer(Value* value, char* buffer, int32_t offset);
int16_t ValueData(const Value* value, char** pointer);
char* ValueCopyText(char* buffer, const Value* value, size_t size);
size_t ValueTextLength(const Value* value);
int16_t ValueCopy(Value* destination, const Value* source);
int32_t ValueSize(const Value* value);
int16_t ValueToDouble(const Value* value, double* out, int parseFlags);
int16_t ValueToLong(const Value* value, int32_t* out, int parseFlags);
int16_t ValueToShort(const Value* value, int16_t* out, int parseFlags);
int16_t ValueToDate(const Value* value, DateRec* out);
int16_t ValueFromDouble(Value* value, uint8_t kind, double x);
int16_t ValueTruth(const Value* value);
int16_t ValueIsTrue(const Value* value);
int TextValueKind(const char* text);
int16_t ValueParseField(const char* text, uint8_t kind, int width, int decimals, uint16_t reset,
                        Value* value, int parseFlags);
// Whether ValueParseField takes the whole of a text as a number of a number
// kind (after the blanks round it): 1 for a blank text and for the other
// kinds. Pushes nothing, so that a caller can refuse a value in its own words
// before the parser would turn it into 0.
int16_t ValueNumberTextFits(const char* text, uint8_t kind, int parseFlags);
int16_t ValueAssign(Value* destination, const Value* source, int parseFlags);
int16_t ValueStore(Value* destination, const Value* source, int parseFlags);
char* ValueToText(const Value* value, char* buffer, size_t size, int decimals, int localise);
char* ValueFormatDecimals(const Value* value, char* buffer, size_t size, int decimals,
                          int localise);
char* NumFormatAuto(double x, char* buffer, size_t size, int localise);
char* NumFormatGeneral(double x, char* buffer, size_t size);
char* NumFormatG14(double x, char* buffer, size_t size, int localise);
char* NumFormatTrimmed(double x, char* buffer, size_t size);
char* NumLocalize(char* text, size_t size);
// Removes every thousands separator, then makes the last decimal separator
// a '.'; returns the text. Built with the number parsers that use it.
char* NumUnlocalize(char* text);
char* NumGroupDigits(char* text, size_t size, char separator, int group);
void DateFormat(char* buffer, size_t size, const DateRec* date, int order, char separator,
                char* pattern, size_t patternSize);
void DateFormatShort(char* buffer, size_t size, const DateRec* date, int order, char separator);
int DatePatternLength();
int16_t NumIsIntegralInRange(double x, double low, double high, double* out);
void ValueRangeError(int16_t code, double x);
int16_t ValueCompare(const Value* a, const Value* b, int* out, int ignored, int report);
int16_t ValueCompareKeys(const void* keyA, const void* keyB, int* out, int report);
int16_t ValueCompareIndexKey(const Value* search, const void* key, int* out, int report,
                             uint32_t stamp);
int IntSign(int32_t n);

// ===== File layer ============================================================
//
// Every file Layerio reads or writes is an entry of the process-wide file
// table, named by its handle (1000 + index). Opens are counted per entry: a
// compatible second open shares the descriptor, a write open of an entry
// open for reading reopens it. Sizes and positions are 64-bit.
//
// Sharing: a read open holds a shared lock of the file's open description, a
// write or create open an exclusive one; a conflict (another handle of this
// or another process holding the file) fails as access denied (825, silent in
// create mode). The locks are advisory: they keep out only programs that use
// this library.
//
// A logical close leaves the descriptor idle, without its lock, and records
// the path's size, inode and modification time; the next open compares them
// with the path as it is then, so a file that another process rewrote or
// renamed over is reopened, its cached pages dropped and the caller's
// changed flag set. (An open that joins users already holding the entry
// open shares their descriptor as it is.) Idle descriptors are closed when the library's
// descriptor limit (255) or the system's is reached, oldest first.
//
// Binary handles read and write through a shared cache of 400 pages of 512
// bytes (FileCacheInit); without it every call goes to the descriptor.
// Text handles are C streams whose lines are converted between the system
// charset and the file's, with the file charset's line end.

using FileHandle = int32_t;  // 1000 + index into the file table
inline constexpr FileHandle kFileHandleBase = 1000;
struct FileEntry;  // the file table's record (file_internal.h)
struct FileCache;

// Open modes.
inline constexpr int kFileModeRead = 1;
inline constexpr int kFileModeWrite = 2;
inline constexpr int kFileModeCreate = 3;
// The most opens one entry counts.
inline constexpr int kFileMaxOpenCount = 1023;
inline constexpr int kFileCachePages = 400;
inline constexpr int kFilePageSize = 512;
inline constexpr int kFileDefaultDescriptorLimit = 255;

// The file layer's codes (no texts in the message table; the arguments are
// the file's name and extension, or a number).
enum FileErrorCode : int16_t {
  kErrFileNoOpenCount = 366,   // "#%d" of the handle
  kErrFileBadHandle = 367,     // "%d" of the handle
  kErrFileNoDescriptor = 368,  // no idle descriptor could be freed
  kErrFileExists = 369,
  kErrFileNotFound = 370,      // file or folder not found, or no space
  kErrFileOpenFailed = 371,    // errno as "%d", then the name
  kErrFileAlreadyEntered = 432,
  kErrFileAccessDenied = 825,  // access denied, read-only or held by another
  kErrFileMoveTarget = 859,    // target of a move open or existing
  kErrFileMoveOldKept = 864,   // the old file of a move could not be deleted
  kErrFileModeConflict = 964,
  kErrFileCopyFailed = 1240,
};

struct FileNameRec {
  uint32_t directory;  // offset in the directory pool; 0 none
  uint32_t spare;
  char name[256];      // name with extension, at most the host's name limit
  int32_t kind;
};

int32_t FileHandleCheck(FileHandle handle);
FileHandle FileOpen(FileHandle handle, int mode, uint32_t* changed);
FileHandle FileOpenRaw(FileHandle handle, int mode, uint32_t* changed);
// The handle, or 0 on failure.
FileHandle FileOpenText(FileHandle handle, int mode, uint32_t* changed);
int FileClose(FileHandle handle);
int32_t FileRead(FileHandle handle, void* buffer, int32_t count);
int32_t FileWrite(FileHandle handle, const void* buffer, int32_t count);
int64_t FileSeek(FileHandle handle, int64_t offset, int origin);
int64_t FileSize(FileHandle handle);
int FileSetSize(FileHandle handle, int64_t size);
int FileSetCharset(FileHandle handle, int charset);
int FileGetCharset(FileHandle handle);
int FileGetAccessMode(FileHandle handle);
int FileModeFromFlags(int flags);
// A line of at most size - 1 bytes ended by one '\n' (CR, LF and CR LF all
// end a line), in the system charset; null at the end of the file.
char* FileReadLine(char* buffer, int size, FileHandle handle);
int FilePutChar(int c, FileHandle handle);
// Writes the text converted to the file's charset (the caller's text is
// left as it is), each '\n' as the charset's line end. 0, or -1.
int FilePuts(const char* text, FileHandle handle);
// Formats without a length limit and writes with FilePuts.
int FilePrintf(FileHandle handle, const char* format, ...) __attribute__((format(printf, 2, 3)));
size_t FileStreamRead(void* buffer, size_t size, size_t count, FileHandle handle);
int FileStreamSeek(FileHandle handle, int64_t offset, int origin);
int64_t FileStreamTell(FileHandle handle);
int FileStreamError(FileHandle handle);
struct FileStatRec {
  int64_t size;
  int64_t modified;     // nanoseconds since 1970
  uint32_t attributes;  // as FileFindFirst's
};
// An existing file is found ignoring letter case, as by an open.
int FileStat(const char* path, FileStatRec* out);
int FileRename(const char* oldPath, const char* newPath);
int FileRemove(const char* path);
int16_t FileCopy(FileHandle source, FileHandle destination, int append);
// Writes the entry's dirty pages and closes its descriptor or stream.
void FileCloseOS(FileHandle handle);
int16_t FileCacheInit();
int16_t FileCacheDrop(FileHandle handle);
int16_t FileCacheFlush(FileHandle handle);
void FileCloseIdle();
void FileLayerShutdown();
// The number of descriptors the layer keeps open at most (tests lower it);
// the previous limit.
int FileSetDescriptorLimit(int limit);
// Descriptors the layer holds now, idle ones included.
int FileDescriptorCount();
// The open count of an entry (0 for an invalid handle).
int FileOpenCount(FileHandle handle);
int32_t NumParseLongN(const char* text, int n);

// ===== Paths, directories, temporary files, file kinds =======================
//
// Paths are written with '/', and '\' is read as a separator too; there are
// no drive letters. Full paths are at most the host's path limit and names
// at most its name limit: a path function whose result would be longer
// fails (error 371 with ENAMETOOLONG) instead of cutting it, since a cut
// path can name another file. Buffers that receive a path hold
// kPathCapacity bytes.
//
// Names are compared exactly (the directory pool, the file table, the
// duplicate check, FileMove); only opening an existing file, FileExists and
// FileStat find it ignoring letter case.

inline constexpr int kFileKindCount = 90;
inline constexpr size_t kPathCapacity = 4096;  // the host's path limit and its NUL
inline constexpr size_t kNameCapacity = 256;   // the host's name limit and its NUL

struct FileKindRec {
  const char* extension;  // null: none
  uint16_t forced;        // 1: applied to every path of the kind
};
const FileKindRec& FileKindInfo(int kind);

// The path functions answer 1, or 0 when the result would pass a limit.
int16_t PathFull(char* path);
int16_t PathSplit(char* path, char* name);
int16_t PathTrimName(char* path);
uint32_t PathInternDir(const char* directory);
char* FileNameRecDir(const FileNameRec* record, char* out);
char* FileNameRecPath(const FileNameRec* record, char* out);
int16_t FileNameRecFromPath(const char* path, FileNameRec* out, int kind);
int16_t PathSetExtension(char* path, const char* extension);
char* PathForKind(char* out, const char* path, int kind);
int16_t PathSetKindExtension(char* path, int kind);
char* PathForTableFile(char* out, const char* path);
char* PathToAlias(const char* path, char* out);
int16_t PathRelativeToFile(char* path, FileHandle handle);
FileHandle FileTableAddName(const char* path, int kind);
FileHandle FileTableAddAny(const char* path, int kind);
FileHandle FileTableFind(const char* path, int kind);
FileHandle FileTableAddCompanion(FileHandle handle, const char* path, int kind);
void FileRelease(FileHandle handle);
// Releases every entry (library shutdown and tests).
void FileTableReleaseAll();
char* FilePath(FileHandle handle, char* out);
char* FileDir(FileHandle handle, char* out);
char* FileBaseName(FileHandle handle, char* out);
char* FilePathRelative(FileHandle handle, char* out, FileHandle reference);
// Nanoseconds since 1970; 0 when the file cannot be read.
int64_t FileModTime(FileHandle handle);
int16_t FileExists(const char* path, int kind);
int16_t FileCloseAndRemove(FileHandle handle);
int16_t FileMove(FileHandle* handle, const char* newPath, int kind);
int16_t FileRemoveSet(const FileHandle* handles, int count);
// Claims a new empty file "~MAPnnnn.TMP" in the directory (the temporary
// directory when null: the current one) and gives its full path; null when
// none could be made.
char* TempFileName(char* out, const char* directory);
int16_t FileFindInDirs(char* name, int kind);
// The save area holds kPathCapacity bytes.
int16_t DirEnterFileDir(FileHandle handle, char* saveArea);
int16_t DirSetCurrent(const char* saveArea);
int16_t ProgramDirInit();
uint32_t ProgramDir();
uint32_t DefaultDir();
void SetDefaultDir(uint32_t directory);

// Attributes of a search: 1 read-only, 2 hidden (a name beginning with '.'),
// 16 folder; a file with none counts as 128 (normal).
inline constexpr uint32_t kFileAttrReadOnly = 1;
inline constexpr uint32_t kFileAttrHidden = 2;
inline constexpr uint32_t kFileAttrDirectory = 16;
inline constexpr uint32_t kFileAttrNormal = 128;
struct FileSearchList;
struct FileSearch {
  uint32_t attributeMask;
  char name[kNameCapacity];  // the name found
  FileSearchList* list;      // the folder's entries; freed when the search ends
};
// 1 and the first match's name, or 0. A search that is left before
// FileFindNext gives 0 is ended with FileFindClose.
int16_t FileFindFirst(const char* pattern, uint32_t attributeMask, FileSearch* search);
int16_t FileFindNext(FileSearch* search);
void FileFindClose(FileSearch* search);

// ===== Dates and locale date order ===========================================

int32_t DateToDayNumber(const DateRec* date);
int16_t DateFromDayNumber(int32_t n, DateRec* out);
int16_t DateAddDays(int32_t days, DateRec* date);
int DateCompare(const DateRec* a, const DateRec* b);
int32_t DateToNumber(const DateRec* date);
int16_t DateFromNumber(int32_t n, DateRec* out);
int DaysInMonth(int month, int leap);
void DateToday(DateRec* out);
void DateFixYear(int32_t* year);
int16_t DateParse(const char* text, DateRec* out);
int16_t DateParseUS(const char* text, DateRec* out);
int16_t DateSetMode(int32_t mode);
int32_t DateGetMode();

// ===== Units of measure ======================================================

inline constexpr int kUnitCount = 38;
inline constexpr int kUnitDegree = 13;
inline constexpr int kUnitMetre = 7;

struct UnitPair {
  double x, y;
};
struct UnitRect {
  double x1, y1, x2, y2;
};

// What the unit conversions need of the coordinate-system code when a value
// passes through degrees; installed by that code (UnitSetCoordSysServices).
// Without them degree points and rectangles cannot be projected and are
// copied unchanged.
struct CoordSysServices {
  void (*lonLatToUnits)(const UnitPair* in, UnitPair* out, const CoordSys* cs, int count);
  void (*lonLatRectToUnits)(const UnitRect* in, UnitRect* out, const CoordSys* cs);
  void (*unitsToLonLat)(const UnitPair* in, UnitPair* out, const CoordSys* cs, int count);
  void (*unitsRectToLonLat)(const UnitRect* in, UnitRect* out, const CoordSys* cs);
  int (*coordSysUnits)(const CoordSys* cs);
};
// Null uninstalls. The record must outlive its installation.
void UnitSetCoordSysServices(const CoordSysServices* services);

int16_t UnitIsValid(int code);
int16_t UnitIsSpecial(int code);
int16_t UnitIsLinear(int code);
int UnitAreaOf(int code);
double UnitSize(int code);  // inches or square inches; 0 outside 0..37
int16_t UnitFromName(const char* name, int* code);
int16_t UnitName(int code, char* buffer, size_t size);
void UnitConvert(double* out, int target, double value, int source);
void UnitConvertPair(UnitPair* out, int target, const UnitPair* in, int source);
void UnitConvertPoint(UnitPair* out, int target, const UnitPair* in, int source,
                      const CoordSys* cs);
void UnitConvertRect(UnitRect* out, int target, const UnitRect* in, int source,
                     const CoordSys* cs);

// ===== Parser-state snapshot, value negation, double comparison ==============

// The tokenizer's line, its current token with the text that token refers
// to, and the pushed-back tokens: all of it is saved with the snapshot, so an
// outer statement finds its token as it left it after a nested run.
struct ParserBlock {
  char line[2200];
  int32_t linePosition;
  int32_t pushedCount;
  Value pushed[2];
  Value token;
  char tokenText[2200];  // words and keywords cut to 31 characters
};

// The process-wide parser variables that a nested statement saves and
// restores, in the order the snapshot keeps them.
struct ParserVariables {
  void* inputSource;
  int32_t inputWords[3];
  int16_t shortWords[2];
  Value* currentToken;
  int32_t tokenWords[4];
  ParserBlock block;
  uint8_t parseMode;  // 0 normal, 1 syntax check (errors batched), 2 no input
  uint8_t statementByte;
  int32_t statementWord;
  int32_t statementWords[14];
};

// A caller-owned copy of the parser variables; it owns nothing.
struct SettingsSnapshot {
  ParserVariables saved;
};

void SettingsSnapshotSave(SettingsSnapshot* record);
void SettingsSnapshotRestore(const SettingsSnapshot* record);
// The process-wide parse mode (shared by the error stack and the parsers).
uint8_t ParseMode();
void SetParseMode(uint8_t mode);

int16_t ValueNegate(Value* result, const Value* operand);
int16_t DoubleEqualDigits(double a, double b, int n);
int16_t DoubleNearlyEqual(double a, double b);

// ===== The running session ===================================================

// What the foundation reads of the table code's session record.
struct Session {
  int16_t monthFirst;        // date texts month first
  int16_t twoDigitPivot;     // -1 none
  int16_t ignoreLocaleSeparators;
};
// The running session, null when none (set by the interface frame).
Session* CurrentSession();
void SetCurrentSession(Session* session);

// ===== Process-wide state ====================================================

struct FoundationState {
  // error stack and fatal errors
  ErrorStack* errors = nullptr;
  MemHandle errorsHandle = nullptr;
  uint16_t trapping = 0;
  int guardDepth = 0;
  char fatalText[512] = {};
  char* messageBuffers = nullptr;  // 10 x 256 bytes, allocated on first use
  int messageNext = 0;
  // strings
  char* tokenSaved = nullptr;  // MbsTok's position
  int systemCharset = kDefaultSystemCharset;
  int oemCharset = kDefaultOemCharset;
  int defaultCharset = kDefaultSystemCharset;
  const CaseTables* caseTables = nullptr;  // null: the default ones
  bool caseTablesFoldAscii = true;  // the installed tables fold A-Z as ASCII does
  // charsets
  bool charsetReady = false;  // CharsetInit has run
  int conversionLast = -1;    // the cache slot filled last
  CharsetConversion conversions[kCharsetCacheSlots];
  // locale
  char dateSeparator = '/';
  int16_t dateOrder = 0;
  char decimalSeparator = '.';
  char thousandSeparator = 0;
  int grouping = 0;
  int16_t ignoreSeparators = 0;
  Session* session = nullptr;
  // units
  const CoordSysServices* coordSys = nullptr;
  // map objects held in values
  const MapObjectServices* mapObjects = nullptr;
  // normalization tables and stamps
  NormState norm = {};
  // parser
  ParserVariables parser = {};
  // file layer, paths and directories
  FileEntry* fileTable = nullptr;
  int32_t fileTableSize = 0;  // entries allocated
  FileCache* fileCache = nullptr;
  int32_t fileDescriptors = 0;
  int32_t fileDescriptorLimit = kFileDefaultDescriptorLimit;
  char* dirPool = nullptr;  // NUL-ended directory texts from offset 1
  uint32_t dirPoolUsed = 0;
  uint32_t dirPoolSize = 0;
  uint32_t programDir = 0;
  uint32_t defaultDir = 0;
  uint32_t tempDir = 0;  // 0: temporary names go to the current directory
  int32_t tempCounter = 0;
};

// The one instance (state.cpp); a plain object so that hot paths reach it
// without a guard.
extern FoundationState gFoundationState __attribute__((visibility("hidden")));
inline FoundationState& State() { return gFoundationState; }

}  // namespace layerio
