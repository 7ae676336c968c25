// The five metadata entries of the interface. Changes stay in the open
// table's tree until PXSaveMetadata writes the definition again.
#include <algorithm>
#include <cstring>
#include <string>

#include "mapfile/tables/frame.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"

using layerio::HandleSlot;
using layerio::kNeedWrite;
using layerio::MetadataNode;
using layerio::TableCall;

namespace {

constexpr uint16_t kFail = 0;
constexpr unsigned kNoMoreChecks = 0;
constexpr int16_t kVersionDroppedFrom = 290;
constexpr int16_t kVersionWithoutMetadata = 100;
constexpr char kReadOnlyKey[] = "\\IsReadOnly";
constexpr char kFalse[] = "FALSE";

void Push(int16_t code) { layerio::ErrorPush(layerio::kErrorSeverity, code, nullptr, nullptr); }

// The table's tree, or null with 1927 pushed.
MetadataNode* MetadataOrPush(HandleSlot& slot) {
  MetadataNode* root = slot.table ? slot.table->metadata : nullptr;
  if (!root) Push(layerio::kErrMetadataNone);
  return root;
}

// Copies at most kMetadataKeyMax bytes of a text without splitting a
// double-byte character.
void CopyCut(char* out, const char* text) {
  size_t n = 0;
  const size_t limit = size_t(layerio::kMetadataKeyMax);
  while (text[n]) {
    size_t step = layerio::MbsIsLeadByte(text + n) && text[n + 1] ? 2 : 1;
    if (n + step > limit) break;
    n += step;
  }
  std::memcpy(out, text, n);
  out[n] = 0;
}

}  // namespace

// 107: the key and everything below it. A table whose metadata goes and
// whose versions were raised only for it drops back to the oldest version.
LAYERIO_API uint16_t PXDeleteMetadataKey(PXTableHandle table, const char* key) {
  return TableCall(table, kNeedWrite, kFail, [&](HandleSlot& slot) -> uint16_t {
    MetadataNode* root = MetadataOrPush(slot);
    if (!root) return kFail;
    if (!layerio::MetadataDelete(root, key)) {
      Push(layerio::kErrMetadataNoKey);
      return kFail;
    }
    layerio::TableObject* t = slot.table;
    if (layerio::MetadataIsEmpty(root) && t->editVersion == kVersionDroppedFrom) {
      t->version = t->readEntireVersion = t->editVersion = kVersionWithoutMetadata;
    }
    return 1;
  });
}

// 112: the direct children of the prefix's node, in order.
LAYERIO_API uint16_t PXEnumMetadata(PXTableHandle table, const char* prefix,
                                    PXMetadataCallback callback) {
  return TableCall(table, kNoMoreChecks, kFail, [&](HandleSlot& slot) -> uint16_t {
    MetadataNode* root = MetadataOrPush(slot);
    if (!root) return kFail;
    const MetadataNode* node = layerio::MetadataFind(root, prefix ? prefix : "\\");
    if (!node || !node->child) {
      Push(layerio::kErrMetadataNoKey);
      return kFail;
    }
    if (!callback) {
      Push(layerio::kErrBadHandle);
      return kFail;
    }
    char name[layerio::kMetadataKeyMax + 1];
    char value[layerio::kMetadataKeyMax + 1];
    for (const MetadataNode* child = node->child; child; child = child->next) {
      CopyCut(name, child->name);
      std::string joined;
      if (child->value) {
        joined.assign(child->value, child->valueLength);
        joined.erase(std::remove(joined.begin(), joined.end(), '\n'), joined.end());
      }
      CopyCut(value, joined.c_str());
      callback(name, value);
    }
    return 1;
  });
}

// 123: an absent key and a key without a value both give an empty text and
// 0, with nothing pushed.
LAYERIO_API uint16_t PXGetMetadataValue(PXTableHandle table, const char* key, char* value,
                                        uint32_t size) {
  if (value && size > 0) value[0] = 0;
  return TableCall(table, kNoMoreChecks, kFail, [&](HandleSlot& slot) -> uint16_t {
    const MetadataNode* root = slot.table ? slot.table->metadata : nullptr;
    if (!root || !key || !value || size == 0) return kFail;
    int32_t length = layerio::MetadataGet(root, key, value, size);
    return length > 0 ? 1 : kFail;
  });
}

// 141: refused without a word when the table is read-only by its metadata.
// The first key of empty metadata makes the table's editability explicit.
LAYERIO_API uint16_t PXSetMetadataValue(PXTableHandle table, const char* key, const char* value) {
  return TableCall(table, kNeedWrite, kFail, [&](HandleSlot& slot) -> uint16_t {
    MetadataNode* root = slot.table ? slot.table->metadata : nullptr;
    if (!root) return kFail;
    layerio::MetadataFlags flags;
    layerio::MetadataReadFlags(root, &flags);
    if (flags.readOnly) return kFail;
    const bool wasEmpty = layerio::MetadataIsEmpty(root);
    if (!layerio::MetadataSet(root, key, value)) return kFail;
    if (wasEmpty && !layerio::MetadataStore(root, kReadOnlyKey, kFalse)) return kFail;
    return 1;
  });
}

// 146
LAYERIO_API uint16_t PXSaveMetadata(PXTableHandle table) {
  return TableCall(table, kNeedWrite, kFail, [&](HandleSlot& slot) -> uint16_t {
    if (!MetadataOrPush(slot)) return kFail;
    return layerio::TableDefWriteFull(slot.table, 1, 0) ? 1 : kFail;
  });
}
