// Normalization tables and CRC-16 stamps.
//
// A normalization table maps each byte to its collation value: entry 0 is 0,
// every other entry 1..255. Table 1 serves every charset; tables 2 and 3
// exist only while the system charset is 1 (ISO8859_1) or 10 (WindowsLatin1).
// Each table is built from a definition text in the message table (a run of
// ids ended by a row beginning with a blank) and is known by its CRC-16.
//
// Definition errors go through ErrorFatal: with trapping on the first one
// ends the build (and the guarded entry); with trapping off the build goes on
// and the table may keep a 0 for a byte that was never named.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

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

}  // namespace layerio
