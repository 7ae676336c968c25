// Table metadata: the key tree, its text form and the flag keys.
#include "mapfile/tables/metadata.h"

namespace layerio {

MetadataNode* MetadataCreate() { return nullptr; }
void MetadataFree(MetadataNode*) {}
int16_t MetadataIsEmpty(const MetadataNode*) { return 1; }
int16_t MetadataSet(MetadataNode*, const char*, const char*) { return 0; }
int32_t MetadataGet(const MetadataNode*, const char*, char*, size_t) { return -1; }
int16_t MetadataDelete(MetadataNode*, const char*) { return 0; }
int16_t MetadataParse(MetadataNode*, int) { return 0; }
int16_t MetadataWrite(const MetadataNode*, FileHandle, const char*) { return 0; }
void MetadataReadFlags(const MetadataNode*, MetadataFlags* out) { *out = MetadataFlags{}; }
void MetadataResolveSuspended(MetadataNode*) {}

}  // namespace layerio
