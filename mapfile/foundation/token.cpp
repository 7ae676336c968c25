// The keyword tokenizer: one process-wide token stream over a text or a
// file, with comments, "define" macros and "include" files.
//
// The line, its read position, the input source, the current token and the
// token's text buffer sit in the parser variables (State().parser), so that
// the settings snapshot saves and restores them around a nested statement;
// the macro table is the stream's own.
#include <cstdio>
#include <cstring>
#include <string>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"
#include "platform/crt.h"
#include "platform/env.h"

namespace layerio {

extern const Keyword kKeywordTable[kKeywordCount];

// Reads a whole source or include file; 1 when it could be read. The one
// place the tokenizer reaches files.
int16_t ReadIncludeFile(const char* path, std::string* text);

namespace {

constexpr int kWordCount = 684;
constexpr size_t kLineSize = sizeof(ParserBlock::line);  // 2200
constexpr size_t kTokenTextSize = sizeof(ParserBlock::tokenText);  // 2200
constexpr size_t kWordLimit = 31;
constexpr int kMacroBuckets = 87;
// Refusals that keep a malformed or hostile text from running away.
constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxExpansionsPerLine = 64;

constexpr int16_t kErrMacroTwice = 381;
constexpr int16_t kErrMacroRefused = 382;  // expansion too long or too deep
constexpr int16_t kErrIncludeNoString = 383;
constexpr int16_t kErrIncludeTooDeep = 384;
constexpr int16_t kErrUnclosedString = 385;
constexpr int16_t kErrCannotRead = 524;
constexpr int16_t kErrUnexpectedToken = 615;
constexpr int16_t kErrDefineNotIdentifier = 1269;
constexpr int16_t kErrDefineNothing = 1296;

constexpr int kCodeEnd = -1;
constexpr int kCodeIdentifier = 1;
constexpr int kCodeString = 2;
constexpr int kCodeNumber = 3;
constexpr int kIdComment = 1379;

// An input: a whole text in memory, read line by line.
struct Source {
  Source* outer;
  std::string text;
  size_t position;      // start of the next line
  size_t lineStart;     // where the line in the buffer began
  bool partial;         // the line filled the buffer and was cut
  int32_t lineNumber;
  int depth;
  std::string directory;  // against which its includes are resolved
};

struct Macro {
  Macro* next;
  std::string name;
  std::string text;
};

struct Stream {
  Macro* buckets[kMacroBuckets] = {};
  int reserveHeads = 0;
  int expansions = 0;
};

Stream& S() {
  static Stream stream;
  return stream;
}

ParserVariables& P() { return State().parser; }
// The current token and its text live in the parser block (see the snapshot).
Value& Tok() { return P().block.token; }
char* Text() { return P().block.tokenText; }
Source* Input() { return static_cast<Source*>(P().inputSource); }
char* Line() { return P().block.line; }
int32_t& Pos() { return P().block.linePosition; }

bool IsBlank(unsigned char c) { return c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == ' '; }

bool IsDelimiter(unsigned char c) {
  return c < 33 || c == 127 || c == '"' || std::strchr("$@%!&'()*+,-./:;<=>?[\\]^`{|}", c);
}

bool IsSuffix(unsigned char c) { return c && std::strchr("$@%!&", c); }

bool IsHex(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

const Keyword* KeywordById(int id) {
  for (const Keyword& k : kKeywordTable) {
    if (k.id == id) return &k;
  }
  return nullptr;
}

int KeywordLookup(const char* lower) {
  int low = 0, high = kWordCount - 1;
  while (low <= high) {
    int mid = (low + high) / 2;
    int c = std::strcmp(lower, kKeywordTable[mid].text);
    if (c == 0) return kKeywordTable[mid].id;
    if (c < 0) {
      high = mid - 1;
    } else {
      low = mid + 1;
    }
  }
  return kCodeIdentifier;
}

void Refuse(int16_t code, const char* text0) {
  ErrorPush(kErrorSeverity, code, text0, nullptr);
  if (P().parseMode != 1) ErrorReportFatal();
}

void FreeSource(Source* s) { delete s; }

Source* NewSource(std::string text, const std::string& directory, Source* outer) {
  auto* s = new Source{outer, std::move(text), 0, 0, false, 0, outer ? outer->depth + 1 : 0,
                       directory};
  return s;
}

void DirectoryOf(const std::string& path, std::string* directory) {
  size_t slash = path.find_last_of("/\\");
  *directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Reads the next line of the input into the line buffer; false at the end of
// the outermost source.
bool ReadLine() {
  for (;;) {
    Source* s = Input();
    if (!s) return false;
    if (s->position >= s->text.size() || s->text[s->position] == '\x1A') {
      P().inputSource = s->outer;
      FreeSource(s);
      continue;
    }
    size_t end = s->text.find('\n', s->position);
    if (end == std::string::npos) end = s->text.size();
    size_t length = end - s->position;
    s->lineStart = s->position;
    s->partial = length > kLineSize - 1;
    if (s->partial) length = kLineSize - 1;
    std::memcpy(Line(), s->text.data() + s->position, length);
    Line()[length] = 0;
    s->position = s->partial ? s->position + length : end + 1;
    ++s->lineNumber;
    S().expansions = 0;
    Pos() = 0;
    if (Line()[0] == '!' || Line()[0] == '\'') continue;
    return true;
  }
}

void DropLine() {
  Line()[0] = 0;
  Pos() = 0;
}

void SetToken(uint8_t kind) {
  Value& t = Tok();
  std::memset(&t, 0, sizeof t);
  t.kind = kind;
  P().currentToken = &t;
}

Macro* FindMacro(const char* name) {
  char upper[kWordLimit + 1];
  StrCopyPadded(upper, name, sizeof upper);
  StrToUpper(upper);
  for (Macro* m = S().buckets[TokHash(upper)]; m; m = m->next) {
    if (StrEqualNoCase(m->name.c_str(), name)) return m;
  }
  return nullptr;
}

// "define NAME text": the rest of the line, up to a comment mark outside
// double quotes, is the replacement.
void Define(const char* after) {
  const char* p = StrSkipSpace(after);
  int length = 0;
  int code = p ? TokScanWord(p, &length) : kCodeEnd;
  if (!p || code == kCodeEnd || code == kIdComment) {
    Refuse(kErrDefineNothing, nullptr);
    return;
  }
  if (code != kCodeIdentifier) {
    Refuse(kErrDefineNotIdentifier, Text());
    return;
  }
  std::string name = Text();
  if (FindMacro(name.c_str())) {
    Refuse(kErrMacroTwice, name.c_str());
    return;
  }
  const char* q = p + length;
  bool quoted = false;
  std::string text;
  for (; *q; ++q) {
    if (*q == '"') quoted = !quoted;
    if (*q == '\'' && !quoted) break;
    text += *q;
  }
  size_t start = text.find_first_not_of(" \t\r\f");
  text = start == std::string::npos ? std::string() : text.substr(start);
  char upper[kWordLimit + 1];
  StrCopyPadded(upper, name.c_str(), sizeof upper);
  StrToUpper(upper);
  Macro*& bucket = S().buckets[TokHash(upper)];
  bucket = new Macro{bucket, name, text};
}

// The replacement text, a blank and the rest of the line take the place of
// the line; false (reported) when that cannot be done.
bool Expand(const Macro& m, const char* rest) {
  if (++S().expansions > kMaxExpansionsPerLine) {
    Refuse(kErrMacroRefused, m.name.c_str());
    return false;
  }
  size_t restLength = std::strlen(rest);
  if (m.text.size() + 1 + restLength >= kLineSize) {
    Refuse(kErrMacroRefused, m.name.c_str());
    return false;
  }
  Source* s = Input();
  if (s && s->partial) {
    // the rest of a cut line is read again from the source
    s->position = s->lineStart + size_t(rest - Line());
    s->partial = false;
    restLength = 0;
  }
  char line[kLineSize];
  std::memcpy(line, m.text.data(), m.text.size());
  line[m.text.size()] = ' ';
  std::memcpy(line + m.text.size() + 1, rest, restLength);
  line[m.text.size() + 1 + restLength] = 0;
  std::memcpy(Line(), line, m.text.size() + 2 + restLength);
  Pos() = 0;
  return true;
}

void Include(const char* after) {
  const char* p = StrSkipSpace(after);
  int length = 0;
  if (!p || TokScanWord(p, &length) != kCodeString) {
    Refuse(kErrIncludeNoString, nullptr);
    return;
  }
  Source* current = Input();
  if (current && current->depth + 1 >= kMaxIncludeDepth) {
    Refuse(kErrIncludeTooDeep, Text());
    return;
  }
  std::string path = Text();
  if (current && !path.empty() && path[0] != '/' && path[0] != '\\') {
    path = current->directory + path;
  }
  std::string text;
  if (!ReadIncludeFile(path.c_str(), &text)) {
    Refuse(kErrCannotRead, path.c_str());
    return;
  }
  // the including line is done; its source resumes on the next line
  if (current && current->partial) {
    current->position = current->lineStart + size_t(p + length - Line());
    current->partial = false;
  }
  std::string directory;
  DirectoryOf(path, &directory);
  P().inputSource = NewSource(std::move(text), directory, current);
}

}  // namespace

// ----- input -----

int16_t ReadIncludeFile(const char* path, std::string* text) {
  platform::Env& env = platform::Env::Current();
  int fd = env.Open(path, platform::kRead);
  if (fd < 0) return 0;
  text->clear();
  char buffer[65536];
  for (;;) {
    int64_t n = env.Read(fd, buffer, sizeof buffer);
    if (n < 0) {
      env.Close(fd);
      return 0;
    }
    if (n == 0) break;
    text->append(buffer, size_t(n));
  }
  env.Close(fd);
  return 1;
}

void TokEnd() {
  while (Source* s = Input()) {
    P().inputSource = s->outer;
    FreeSource(s);
  }
  P().currentToken = nullptr;
  DropLine();
}

int16_t TokBeginText(const char* text) {
  TokEnd();
  P().inputSource = NewSource(text ? text : "", std::string(), nullptr);
  TokNext();
  return 1;
}

int16_t TokBeginFile(const char* path) {
  TokEnd();
  std::string text;
  if (!ReadIncludeFile(path, &text)) {
    ErrorPush(kErrorSeverity, kErrCannotRead, path, nullptr);
    return 0;
  }
  std::string directory;
  DirectoryOf(path, &directory);
  P().inputSource = NewSource(std::move(text), directory, nullptr);
  TokNext();
  return 1;
}

const Value* TokCurrent() { return P().currentToken; }
const char* TokCurrentText() { return Text(); }
void TokSetReserveHeads(int on) { S().reserveHeads = on ? 1 : 0; }
int32_t TokLineNumber() { return Input() ? Input()->lineNumber : 0; }

void TokMacrosClear() {
  for (Macro*& head : S().buckets) {
    while (Macro* m = head) {
      head = m->next;
      delete m;
    }
  }
}

// ----- tokens -----

void TokNext() {
  if (P().parseMode == 2) return;
  for (;;) {
    char* line = Line();
    if (Pos() < 0 || size_t(Pos()) >= kLineSize) Pos() = 0;
    const char* p = line + Pos();
    while (IsBlank(static_cast<unsigned char>(*p))) ++p;
    if (*p == 0) {
      if (!ReadLine()) {
        P().currentToken = nullptr;
        DropLine();
        return;
      }
      continue;
    }
    int length = 0;
    int code = TokScanWord(p, &length);
    const char* after = p + length;
    Pos() = int32_t(after - line);
    if (code == kCodeEnd) {
      // the end of this source: what follows the mark is not read
      if (Source* s = Input()) s->position = s->text.size();
      DropLine();
      continue;
    }
    if (code == kIdComment) {
      DropLine();
      continue;
    }
    if (code == kKwDefine) {
      Define(after);
      DropLine();
      continue;
    }
    if (code == kKwInclude) {
      Include(after);
      DropLine();
      continue;
    }
    if (code == kCodeIdentifier) {
      if (const Macro* m = FindMacro(Text())) {
        if (!Expand(*m, after)) DropLine();
        continue;
      }
      SetToken(kValueBorrowedIdentifier);
      Tok().u.p = Text();
    } else if (code == kCodeString) {
      SetToken(kValueBorrowedText);
      Tok().u.p = Text();
    } else if (code == kCodeNumber) {
      SetToken(kValueFloat);
      NumParseDouble(Text(), &Tok().u.d);
    } else {
      SetToken(kValueKeyword);
      Tok().aux = code;
    }
    Source* s = Input();
    if (s && s->partial) {
      // a cut line goes on from the end of this token
      s->position = s->lineStart + size_t(after - line);
      s->partial = false;
      DropLine();
    }
    if (P().parseMode == 1) ErrorSeparate();
    return;
  }
}

int TokScanWord(const char* position, int* length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(position);
  char* out = Text();
  unsigned char c = p[0];
  *length = 0;
  if (c == 0x1A) {
    *length = 1;
    out[0] = 0;
    return kCodeEnd;
  }
  // numbers
  if ((c >= '0' && c <= '9') || (c == '.' && p[1] >= '0' && p[1] <= '9')) {
    char* end = nullptr;
    platform::StrtodC(position, &end);
    size_t n = size_t(end - position);
    // decimal numbers only: 0x1F is the number 0 and the word x1F
    if (c == '0' && (p[1] | 0x20) == 'x') n = 1;
    if (n == 0) n = 1;
    if (n >= kTokenTextSize) n = kTokenTextSize - 1;
    std::memcpy(out, position, n);
    out[n] = 0;
    *length = int(n);
    return kCodeNumber;
  }
  if (c == '&' && (p[1] == 'H' || p[1] == 'h') && IsHex(p[2])) {
    size_t n = 2;
    uint64_t v = 0;
    while (IsHex(p[n])) {
      int digit = p[n] <= '9' ? p[n] - '0' : (p[n] | 0x20) - 'a' + 10;
      if (v <= 0xFFFFFFFFu) v = v * 16 + uint64_t(digit);
      ++n;
    }
    if (v > 0xFFFFFFFFu) v = 0xFFFFFFFFu;
    std::snprintf(out, kTokenTextSize, "%ld", long(v));
    *length = int(n);
    return kCodeNumber;
  }
  if (c == '"') {
    size_t i = 1, n = 0;
    for (;;) {
      if (p[i] == 0) {
        ErrorPush(kErrorSeverity, kErrUnclosedString, nullptr, nullptr);
        if (P().parseMode != 1) ErrorReportFatal();
        break;
      }
      if (p[i] == '"') {
        if (p[i + 1] != '"') {
          ++i;
          break;
        }
        ++i;
      }
      bool lead = MbsIsLeadByte(position + i) && p[i + 1];
      size_t take = lead ? 2 : 1;
      if (n + take < kTokenTextSize) {
        std::memcpy(out + n, p + i, take);
        n += take;
      }
      i += take;
    }
    out[n] = 0;
    *length = int(i);
    return kCodeString;
  }
  // operators and punctuation
  if (IsDelimiter(c) && c != '_') {
    static const struct {
      char text[3];
      int id;
    } kTwo[] = {{"<>", 21}, {"<=", 22}, {">=", 23}};
    for (const auto& two : kTwo) {
      if (c == uint8_t(two.text[0]) && p[1] == uint8_t(two.text[1])) {
        std::memcpy(out, two.text, 3);
        *length = 2;
        return two.id;
      }
    }
    out[0] = char(c);
    out[1] = 0;
    *length = 1;
    if (c >= 33) {
      for (int k = kWordCount; k < kKeywordCount; ++k) {
        const char* t = kKeywordTable[k].text;
        if (uint8_t(t[0]) == c && t[1] == 0) return kKeywordTable[k].id;
      }
    }
    return kKwUnsupported;
  }
  // a word: letters and anything else that is no delimiter
  size_t i = 0;
  while (p[i] && !IsDelimiter(p[i])) {
    i += MbsIsLeadByte(position + i) && p[i + 1] ? 2 : 1;
  }
  if (IsSuffix(p[i])) ++i;
  size_t n = i < kWordLimit ? i : kWordLimit;
  // never split a double-byte character at the cut
  if (n < i) {
    size_t k = 0;
    while (k < n) {
      size_t step = MbsIsLeadByte(position + k) && p[k + 1] ? 2 : 1;
      if (k + step > n) break;
      k += step;
    }
    n = k;
  }
  std::memcpy(out, position, n);
  out[n] = 0;
  *length = int(i);
  char lower[kWordLimit + 1];
  std::memcpy(lower, out, n + 1);
  StrToLower(lower);
  return KeywordLookup(lower);
}

int16_t TokIs(int cls) {
  Value* t = P().currentToken;
  if (!t) return 0;
  switch (t->kind) {
    case kValueText:
    case kValueBorrowedText:
      return cls == kTokString;
    case kValueFloat:
    case kValueInteger:
    case kValueSmallInt:
    case kValueDecimal:
      return cls == kTokNumber;
    case kValueKeyword: {
      if (t->aux == cls) return 1;
      if (cls != kTokIdentifier && cls != kTokString) return 0;
      if (P().parseMode == 2 || !CharIsAlpha(static_cast<unsigned char>(Text()[0]))) return 0;
      if (S().reserveHeads && TokIsStatementHead(t)) return 0;
      if (t != &Tok()) return 0;  // a token whose text is not the stream's
      t->kind = cls == kTokIdentifier ? kValueBorrowedIdentifier : kValueBorrowedText;
      t->aux = 0;
      t->u.p = Text();
      return 1;
    }
    case kValueIdentifier:
    case kValueBorrowedIdentifier:
      if (cls == kTokIdentifier) return 1;
      if (cls != kTokString) return 0;
      t->kind = t->kind == kValueIdentifier ? kValueText : kValueBorrowedText;
      if (t->kind == kValueText) t->aux = -1;
      return 1;
    default:
      return 0;
  }
}

int16_t TokExpect(int cls) {
  if (TokIs(cls)) {
    TokNext();
    return 1;
  }
  TokError(cls);
  return 0;
}

int16_t TokCheck(int cls) {
  if (TokIs(cls)) return 1;
  TokError(cls);
  return 0;
}

void TokError(int cls) {
  char found[kWordLimit + 1] = "";
  if (const Value* t = P().currentToken) TokText(t, found, sizeof found);
  char expected[kWordLimit + 1];
  const char* text;
  switch (cls) {
    case kTokIdentifier:
      text = MsgGetText(611);
      break;
    case kTokString:
      text = MsgGetText(612);
      break;
    case kTokNumber:
      text = MsgGetText(613);
      break;
    default:
      text = TokKeywordText(cls);
      if (!text[0]) text = MsgGetText(614);
      break;
  }
  StrCopyPadded(expected, text, sizeof expected);
  ErrorPush(kErrorSeverity, kErrUnexpectedToken, found, expected);
  TokSkipStatement();
}

void TokSkipStatement() {
  // With no input (parse mode 2) no further token comes: nothing to skip.
  if (P().parseMode == 2) return;
  while (const Value* t = P().currentToken) {
    if (TokIsStatementHead(t)) return;
    TokNext();
  }
}

char* TokText(const Value* token, char* buffer, int size) {
  if (size <= 0) return buffer;
  if (token->kind == kValueKeyword) {
    const char* text = token->aux == kKwUnsupported ? MsgGetText(3600) : TokKeywordText(token->aux);
    StrCopyPadded(buffer, text, size_t(size));
    return buffer;
  }
  return ValueToText(token, buffer, size_t(size), -1, 0);
}

const char* TokKeywordText(int id) {
  const Keyword* k = KeywordById(id);
  return k ? k->text : "";
}

int16_t TokIsStatementHead(const Value* token) {
  if (!token || token->kind != kValueKeyword) return 0;
  const Keyword* k = KeywordById(token->aux);
  return k ? int16_t(k->statementHead) : 0;
}

// ----- identifiers -----

int16_t IdentIsValid(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  // a lone type suffix is no name either (IdentMakeValid puts "_" before it)
  if (!p || !p[0] || (p[0] >= '0' && p[0] <= '9') || p[0] == '#' || IsSuffix(p[0])) return 0;
  // digits by the case tables, so that the system charset decides
  if (CurrentCaseTables().digit[p[0]]) return 0;
  for (size_t i = 0; p[i];) {
    if (MbsIsLeadByte(text + i) && p[i + 1]) {
      i += 2;
      continue;
    }
    unsigned char c = p[i];
    bool ok = CharIsAlnum(c) || c == '#' || c == '_' || c == '~' || (IsSuffix(c) && p[i + 1] == 0);
    if (!ok) return 0;
    ++i;
  }
  return 1;
}

void IdentMakeValid(char* text) {
  size_t n = std::strlen(text);
  for (size_t i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (MbsIsLeadByte(text + i) && text[i + 1]) {
      i += 2;
      continue;
    }
    bool ok = CharIsAlnum(c) || c == '#' || c == '_' || c == '~' || (IsSuffix(c) && i + 1 == n);
    if (!ok) text[i] = '_';
    ++i;
  }
  unsigned char first = static_cast<unsigned char>(text[0]);
  if (first && (CurrentCaseTables().digit[first] || first == '#' || IsSuffix(first))) {
    if (n > 30) n = 30;
    std::memmove(text + 1, text, n);
    text[0] = '_';
    text[n + 1] = 0;
  }
}

char* StrSkipSpace(const char* position) {
  if (!position) return nullptr;
  while (IsBlank(static_cast<unsigned char>(*position))) ++position;
  return *position ? const_cast<char*>(position) : nullptr;
}

int TokKeywordId(const char* word) {
  char lower[kWordLimit + 1];
  StrCopyPadded(lower, word, sizeof lower);
  StrToLower(lower);
  return KeywordLookup(lower);
}

int TokHash(const char* text) {
  uint32_t h = 0;
  for (const char* p = text; *p; ++p) {
    h = h * 16 + uint32_t(int32_t(static_cast<signed char>(*p)));
    uint32_t g = h & 0xF0000000u;
    if (g) h = h ^ (g >> 24) ^ g;
  }
  return int(h % kMacroBuckets);
}

}  // namespace layerio
