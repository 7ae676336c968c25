// The record a remote-database driver library shares with Layerio: one per
// loaded driver, handed to the driver's SrvInit, which reports its errors in
// it. Drivers include this header; it needs nothing else of the library.
//
// The layout is fixed for 64-bit processes (offsets below); the record is
// zeroed before SrvInit sees it.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct SrvDriver {
  char reserved[40];      //    0: not used by Layerio
  void** entries;         //   40: the 32 entry points, in slot order
  void* module;           //   48: the loaded library (Layerio's own handle)
  int16_t errorCode;      //   56: set by the driver
  char errorText1[1024];  //   58: first argument text of the driver's error
  char errorText2[1024];  // 1082: second argument text
};

// A driver's SrvInit: non-zero when the driver is ready; zero after setting
// errorCode and the two texts.
typedef int (*SrvInitFn)(SrvDriver* driver);

}  // extern "C"

static_assert(offsetof(SrvDriver, entries) == 40);
static_assert(offsetof(SrvDriver, module) == 48);
static_assert(offsetof(SrvDriver, errorCode) == 56);
static_assert(offsetof(SrvDriver, errorText1) == 58);
static_assert(offsetof(SrvDriver, errorText2) == 1082);
static_assert(sizeof(SrvDriver) == 2112);
