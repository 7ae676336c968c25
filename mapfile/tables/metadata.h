// Table metadata: a tree of named keys with text values, kept in the table
// definition between "begin_metadata" and "end_metadata". Keys are paths
// ("\IsReadOnly", "\Group\Key") compared ignoring case; values are stored
// in pieces of at most 237 characters joined by LF.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/file.h"

namespace layerio {

enum MetadataErrorCode : int16_t {
  kErrMetadataSyntax = 615,
  kErrMetadataNone = 1927,     // the table has no metadata
  kErrMetadataNoKey = 1928,    // the key or prefix does not exist
  kErrMetadataBadChar = 1999,  // quote, CR or LF in a key; CR or LF in a value
};

inline constexpr int kMetadataNameMax = 240;
inline constexpr int kMetadataKeyMax = 239;
inline constexpr int kMetadataPiece = 237;

struct MetadataNode {
  MetadataNode* next;   // sibling
  MetadataNode* child;  // first child
  char name[kMetadataNameMax + 1];
  char* value;  // owned, null when none
  uint32_t valueLength;
};

// A new empty tree (the root), null when out of memory (632 pushed).
MetadataNode* MetadataCreate();
void MetadataFree(MetadataNode* root);
int16_t MetadataIsEmpty(const MetadataNode* root);

int16_t MetadataSet(MetadataNode* root, const char* key, const char* value);
// The value's length (pieces joined), -1 when the key does not exist, 0
// without output. The output is cut to size - 1 characters.
int32_t MetadataGet(const MetadataNode* root, const char* key, char* out, size_t size);
int16_t MetadataDelete(MetadataNode* root, const char* key);
// Reads a section from the current token stream (tokens from "begin_metadata"
// when `skipToBegin`, else from the first key) up to "end_metadata".
int16_t MetadataParse(MetadataNode* root, int skipToBegin);
// Writes the section's text form (from "begin_metadata" to "end_metadata").
int16_t MetadataWrite(const MetadataNode* root, FileHandle stream, const char* indent);

// The flag keys.
struct MetadataFlags {
  uint8_t readOnly;
  uint8_t seamless;
  uint8_t drilldown;
};
void MetadataReadFlags(const MetadataNode* root, MetadataFlags* out);
// "\IsReadOnly" of "SUSPEND_FALSE" becomes "FALSE" (before a write).
void MetadataResolveSuspended(MetadataNode* root);

// MetadataSet for the library itself: "\IsReadOnly" is taken like any key
// (the definition reader, PXSetMetadataValue's first key).
int16_t MetadataStore(MetadataNode* root, const char* key, const char* value);
// The node a key names (the root for "\"), null when there is none.
const MetadataNode* MetadataFind(const MetadataNode* root, const char* key);

}  // namespace layerio
