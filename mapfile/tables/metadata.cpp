// Table metadata: the key tree, its text form and the flag keys.
//
// A node's value keeps its pieces joined by LF (values cannot hold LF), so
// that the writer emits one line per piece and the reader gets the pieces
// back without them.
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/tables/metadata.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace layerio {

namespace {

constexpr int kKwBeginMetadata = 147;
constexpr int kKwEndMetadata = 297;
constexpr int kKwEquals = 20;
// A line break goes before a piece when the key, the piece and this much
// would reach kMetadataLineLimit.
constexpr size_t kMetadataLineSlack = 8;
constexpr size_t kMetadataLineLimit = 256;
// A continuation key is "<key>\+" and one to four digits.
constexpr int kContinuationDigits = 4;

constexpr const char kReadOnlyKey[] = "IsReadOnly";
constexpr const char kSeamlessKey[] = "IsSeamless";
constexpr const char kDrilldownKey[] = "IsDrilldown";
constexpr const char kSuspendedFalse[] = "SUSPEND_FALSE";
constexpr const char kFalse[] = "FALSE";

void PushCode(int16_t code) { ErrorPush(kErrorSeverity, code, nullptr, nullptr); }

// The length of a character at p (2 for a lead byte with its trail); `dbcs`
// is DbcsMode(), asked once per text.
size_t CharLength(const char* p, bool dbcs) { return dbcs && MbsIsLeadByte(p) && p[1] ? 2 : 1; }

// The longest prefix of `text` (of `length` bytes) within `limit` bytes
// that does not end inside a double-byte character.
size_t CutLength(const char* text, size_t length, size_t limit) {
  if (length <= limit) return length;
  const bool dbcs = DbcsMode();
  if (!dbcs) return limit;
  size_t n = 0;
  while (n < limit) {
    size_t step = CharLength(text + n, dbcs);
    if (n + step > limit) break;
    n += step;
  }
  return n;
}

// One component of a key: a piece of the key's text.
struct KeyPart {
  const char* text;
  size_t length;
};

// The key's components, split at "\" (empty components are skipped, so
// that "\A\B" and "A\B" name the same key).
bool SplitKey(const char* key, KeyPart parts[], int capacity, int* count) {
  *count = 0;
  const bool dbcs = DbcsMode();
  const char* start = key;
  auto flush = [&](const char* end) {
    size_t n = size_t(end - start);
    if (n == 0) return true;
    if (*count == capacity || n > size_t(kMetadataNameMax)) return false;
    parts[(*count)++] = KeyPart{start, n};
    return true;
  };
  const char* p = key;
  while (*p) {
    size_t step = CharLength(p, dbcs);
    if (step == 1 && *p == '\\') {
      if (!flush(p)) return false;
      start = p + 1;
    }
    p += step;
  }
  return flush(p);
}

// Every component of a key of at most kMetadataKeyMax characters holds at
// least one character and a "\" before it.
constexpr int kMaxComponents = (kMetadataKeyMax + 1) / 2;

MetadataNode* NodeNew(const char* name, size_t length) {
  auto* node = static_cast<MetadataNode*>(MemAlloc(sizeof(MetadataNode)));
  if (!node) {
    PushCode(kErrAllocFailed);
    return nullptr;
  }
  std::memset(static_cast<void*>(node), 0, sizeof *node);
  std::memcpy(node->name, name, length);
  node->name[length] = 0;
  return node;
}

void NodeFreeTree(MetadataNode* node) {
  // Siblings iteratively, children by recursion: depth is bounded by the
  // key length, the sibling count is not.
  while (node) {
    MetadataNode* next = node->next;
    NodeFreeTree(node->child);
    MemFree(node->value);
    MemFree(node);
    node = next;
  }
}

MetadataNode* ChildNamed(const MetadataNode* parent, const KeyPart& name) {
  for (MetadataNode* c = parent->child; c; c = c->next) {
    if (StrEqualNoCaseN(c->name, name.text, name.length) && c->name[name.length] == 0) return c;
  }
  return nullptr;
}

// The node of a key; the root for a key without components; null when it
// does not exist or the key cannot name a node.
MetadataNode* FindNode(const MetadataNode* root, const char* key) {
  if (!root || !key) return nullptr;
  KeyPart parts[kMaxComponents];
  int count = 0;
  if (std::strlen(key) > size_t(kMetadataKeyMax) || !SplitKey(key, parts, kMaxComponents, &count))
    return nullptr;
  const MetadataNode* node = root;
  for (int i = 0; i < count && node; ++i) node = ChildNamed(node, parts[i]);
  return const_cast<MetadataNode*>(node);
}

// The node of a key, made with its missing ancestors (appended after their
// siblings, so that the written order is the order keys were first set).
MetadataNode* MakeNode(MetadataNode* root, const char* key) {
  KeyPart parts[kMaxComponents];
  int count = 0;
  if (!SplitKey(key, parts, kMaxComponents, &count) || count == 0) {
    PushCode(kErrMetadataBadChar);
    return nullptr;
  }
  MetadataNode* node = root;
  for (int i = 0; i < count; ++i) {
    MetadataNode* child = ChildNamed(node, parts[i]);
    if (!child) {
      child = NodeNew(parts[i].text, parts[i].length);
      if (!child) return nullptr;
      MetadataNode** link = &node->child;
      while (*link) link = &(*link)->next;
      *link = child;
    }
    node = child;
  }
  return node;
}

// `value` cut into pieces of kMetadataPiece characters joined by LF; a
// double-byte character at a piece's end stays whole.
std::string Pieces(const char* value) {
  std::string out;
  const size_t length = std::strlen(value);
  const bool dbcs = DbcsMode();
  out.reserve(length + length / kMetadataPiece);
  size_t at = 0;
  while (at < length) {
    size_t n = 0;
    if (!dbcs) {
      n = std::min(size_t(kMetadataPiece), length - at);
    } else {
      while (n < size_t(kMetadataPiece) && at + n < length) n += CharLength(value + at + n, dbcs);
    }
    if (at + n > length) n = length - at;
    if (!out.empty() || at > 0) out += '\n';
    out.append(value + at, n);
    at += n;
  }
  return out;
}

bool StoreValue(MetadataNode* node, const std::string& text) {
  auto* copy = static_cast<char*>(MemAlloc(text.size() + 1));
  if (!copy) {
    PushCode(kErrAllocFailed);
    return false;
  }
  std::memcpy(copy, text.c_str(), text.size() + 1);
  MemFree(node->value);
  node->value = copy;
  node->valueLength = uint32_t(text.size());
  return true;
}

bool KeyTextAllowed(const char* key) {
  return std::strpbrk(key, "\"\r\n") == nullptr && std::strlen(key) <= size_t(kMetadataKeyMax);
}

bool IsReadOnlyKey(const char* key) {
  KeyPart parts[kMaxComponents];
  int count = 0;
  return SplitKey(key, parts, kMaxComponents, &count) && count == 1 &&
         parts[0].length == sizeof kReadOnlyKey - 1 &&
         StrEqualNoCaseN(parts[0].text, kReadOnlyKey, parts[0].length);
}

// The value without its piece breaks.
std::string Joined(const MetadataNode* node) {
  std::string out;
  if (!node->value) return out;
  out.reserve(node->valueLength);
  for (uint32_t i = 0; i < node->valueLength; ++i)
    if (node->value[i] != '\n') out += node->value[i];
  return out;
}

// A flag key: true unless its value is "FALSE"; `missing` when it is absent.
bool FlagValue(const MetadataNode* root, const char* name, bool missing) {
  const MetadataNode* node = FindNode(root, name);
  if (!node) return missing;
  return !StrEqualNoCase(Joined(node).c_str(), kFalse);
}

// The piece as a quoted text, embedded quotes doubled.
void AppendQuoted(std::string& out, const char* text, size_t length) {
  out += '"';
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '"') out += '"';
    out += text[i];
  }
  out += '"';
}

bool WriteNode(const MetadataNode* node, const std::string& parent, FileHandle stream,
               const char* indent, bool top) {
  for (; node; node = node->next) {
    std::string path = parent + '\\' + node->name;
    std::string line;
    const char* value = node->value ? node->value : "";
    uint32_t length = node->value ? node->valueLength : 0;
    // A suspended FALSE keeps the table read-only while it is open only.
    if (top && node->value && StrEqualNoCase(node->name, kReadOnlyKey) &&
        StrEqualNoCase(node->value, kSuspendedFalse)) {
      value = kFalse;
      length = uint32_t(std::strlen(kFalse));
    }
    uint32_t at = 0;
    int piece = 0;
    do {
      const char* end = static_cast<const char*>(std::memchr(value + at, '\n', length - at));
      uint32_t n = end ? uint32_t(end - (value + at)) : length - at;
      std::string key = path;
      if (piece > 0) key += "\\+" + std::to_string(piece);
      line += indent;
      line += '"' + key + "\" =";
      if (key.size() + n + kMetadataLineSlack >= kMetadataLineLimit) {
        line += '\n';
        line += indent;
      } else {
        line += ' ';
      }
      AppendQuoted(line, value + at, n);
      line += '\n';
      at += n + (end ? 1 : 0);
      ++piece;
    } while (at < length);
    if (FilePuts(line.c_str(), stream) != 0) return false;
    if (node->child && !WriteNode(node->child, path, stream, indent, false)) return false;
  }
  return true;
}

// "<key>\+" and one to four digits.
bool IsContinuation(const char* text, const char* key) {
  size_t n = std::strlen(key);
  if (!StrEqualNoCaseN(text, key, n) || text[n] != '\\' || text[n + 1] != '+') return false;
  const char* digits = text + n + 2;
  int count = 0;
  while (digits[count] >= '0' && digits[count] <= '9') ++count;
  return count >= 1 && count <= kContinuationDigits && digits[count] == 0;
}

// Appends a further piece (itself cut into pieces when it is long).
bool AppendPiece(MetadataNode* root, const char* key, const char* piece) {
  MetadataNode* node = FindNode(root, key);
  if (!node) return false;
  std::string text = node->value ? std::string(node->value, node->valueLength) : std::string();
  text += '\n';
  text += Pieces(piece);
  return StoreValue(node, text);
}

}  // namespace

MetadataNode* MetadataCreate() { return NodeNew("", 0); }

void MetadataFree(MetadataNode* root) { NodeFreeTree(root); }

int16_t MetadataIsEmpty(const MetadataNode* root) {
  return !root || (!root->child && !root->next) ? 1 : 0;
}

int16_t MetadataStore(MetadataNode* root, const char* key, const char* value) {
  if (!root || !key) {
    PushCode(kErrMetadataBadChar);
    return 0;
  }
  if (!KeyTextAllowed(key) || (value && std::strpbrk(value, "\r\n"))) {
    PushCode(kErrMetadataBadChar);
    return 0;
  }
  MetadataNode* node = MakeNode(root, key);
  if (!node) return 0;
  return StoreValue(node, Pieces(value ? value : "")) ? 1 : 0;
}

int16_t MetadataSet(MetadataNode* root, const char* key, const char* value) {
  if (key && KeyTextAllowed(key) && IsReadOnlyKey(key)) return 0;
  return MetadataStore(root, key, value);
}

int32_t MetadataGet(const MetadataNode* root, const char* key, char* out, size_t size) {
  const MetadataNode* node = FindNode(root, key);
  if (!node) return -1;
  if (!out || size == 0) return 0;
  std::string value = Joined(node);
  size_t n = CutLength(value.c_str(), value.size(), size - 1);
  std::memcpy(out, value.data(), n);
  out[n] = 0;
  return int32_t(value.size());
}

const MetadataNode* MetadataFind(const MetadataNode* root, const char* key) {
  return FindNode(root, key);
}

int16_t MetadataDelete(MetadataNode* root, const char* key) {
  if (!root || !key || key[0] != '\\') return 0;
  KeyPart parts[kMaxComponents];
  int count = 0;
  if (std::strlen(key) > size_t(kMetadataKeyMax) || !SplitKey(key, parts, kMaxComponents, &count) ||
      count == 0)
    return 0;
  MetadataNode* parent = root;
  for (int i = 0; i + 1 < count && parent; ++i) parent = ChildNamed(parent, parts[i]);
  if (!parent) return 0;
  for (MetadataNode** link = &parent->child; *link; link = &(*link)->next) {
    MetadataNode* node = *link;
    const KeyPart& last = parts[count - 1];
    if (!StrEqualNoCaseN(node->name, last.text, last.length) || node->name[last.length] != 0)
      continue;
    *link = node->next;
    node->next = nullptr;
    NodeFreeTree(node);
    return 1;
  }
  return 0;
}

int16_t MetadataParse(MetadataNode* root, int skipToBegin) {
  if (skipToBegin) {
    while (TokCurrent() && !TokIs(kKwBeginMetadata)) TokNext();
    if (!TokCurrent()) {
      TokError(kKwBeginMetadata);
      return 0;
    }
    TokNext();
  }
  std::string key;
  for (;;) {
    if (TokIs(kKwEndMetadata)) {
      TokNext();
      return 1;
    }
    // The tokenizer has taken the quotes off and undoubled embedded ones.
    if (!TokIs(kTokString)) {
      TokError(kTokString);
      return 0;
    }
    key = TokCurrentText();
    TokNext();
    if (!TokExpect(kKwEquals)) return 0;
    if (!TokIs(kTokString)) {
      TokError(kTokString);
      return 0;
    }
    if (!MetadataStore(root, key.c_str(), TokCurrentText())) return 0;
    TokNext();
    while (TokCurrent() && !TokIs(kKwEndMetadata) && TokIs(kTokString) &&
           IsContinuation(TokCurrentText(), key.c_str())) {
      TokNext();
      if (!TokExpect(kKwEquals)) return 0;
      if (!TokIs(kTokString)) {
        TokError(kTokString);
        return 0;
      }
      if (std::strpbrk(TokCurrentText(), "\r\n")) {
        PushCode(kErrMetadataBadChar);
        return 0;
      }
      if (!AppendPiece(root, key.c_str(), TokCurrentText())) return 0;
      TokNext();
    }
  }
}

int16_t MetadataWrite(const MetadataNode* root, FileHandle stream, const char* indent) {
  if (!indent) indent = "";
  if (FilePuts("begin_metadata\n", stream) != 0) return 0;
  if (root && !WriteNode(root->child, std::string(), stream, indent, true)) return 0;
  return FilePuts("end_metadata\n", stream) == 0 ? 1 : 0;
}

void MetadataReadFlags(const MetadataNode* root, MetadataFlags* out) {
  const bool empty = MetadataIsEmpty(root);
  out->readOnly = empty ? 0 : FlagValue(root, kReadOnlyKey, true);
  out->seamless = empty ? 0 : FlagValue(root, kSeamlessKey, false);
  out->drilldown = empty ? 0 : FlagValue(root, kDrilldownKey, false);
}

void MetadataResolveSuspended(MetadataNode* root) {
  MetadataNode* node = FindNode(root, kReadOnlyKey);
  if (node && node->value && StrEqualNoCase(node->value, kSuspendedFalse))
    StoreValue(node, kFalse);
}

}  // namespace layerio
