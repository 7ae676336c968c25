// A read-only locator of one stream inside a compound document (the
// container whose first bytes are D0 CF 11 E0 A1 B1 1A E1): header, sectors,
// the allocation table and its extension, the directory, and the
// mini-stream for streams below the header's cut-off size.
//
// The whole container is given as bytes in memory. Every sector number,
// chain and size read from it is checked against the container before use:
// a chain that runs outside the file, loops, or ends before the stream's
// size is a damaged container, never a read outside the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace layerio {

enum class CfbResult {
  kOk,
  kNotCompound,  // the bytes do not begin with the container's signature
  kDamaged,      // a header field, chain or directory entry is out of bounds
  kNoStream,     // no stream of any of the names
};

// True when `bytes` begins with the container's eight-byte signature.
bool CfbIsCompound(const uint8_t* bytes, size_t size);

// Copies the first stream found, in the order of `names` (ASCII, compared
// ignoring letter case), into `out`. The container's bytes are not kept.
CfbResult CfbReadStream(const uint8_t* bytes, size_t size, const char* const* names, int count,
                        std::vector<uint8_t>* out);

}  // namespace layerio
