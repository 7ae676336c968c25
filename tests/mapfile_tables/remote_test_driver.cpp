// A remote-database driver library for the tests: it exports the 32 entry
// names and does nothing else. Built three times: whole, without SrvFetch
// (GSB_DRIVER_WITHOUT_FETCH), and with an SrvInit that refuses, reporting
// code 7777 with two texts (GSB_DRIVER_REFUSES).
#include <cstring>

#include "mapfile/tables/remote_driver.h"

#define GSB_DRIVER_ENTRY(name) \
  extern "C" __attribute__((visibility("default"))) int name() { return 0; }

extern "C" __attribute__((visibility("default"))) int SrvInit(SrvDriver* driver) {
#ifndef GSB_DRIVER_REFUSES
  if (driver) return 1;
#endif
  driver->errorCode = 7777;
  std::strcpy(driver->errorText1, "no server");
  std::strcpy(driver->errorText2, "here");
  return 0;
}

GSB_DRIVER_ENTRY(SrvBeginTransaction)
GSB_DRIVER_ENTRY(SrvBindColumn)
GSB_DRIVER_ENTRY(SrvClose)
GSB_DRIVER_ENTRY(SrvColumnAlias)
GSB_DRIVER_ENTRY(SrvColumnEditable)
GSB_DRIVER_ENTRY(SrvColumnName)
GSB_DRIVER_ENTRY(SrvColumnPrecision)
GSB_DRIVER_ENTRY(SrvColumnScale)
GSB_DRIVER_ENTRY(SrvColumnType)
GSB_DRIVER_ENTRY(SrvColumnValue)
GSB_DRIVER_ENTRY(SrvColumnWidth)
GSB_DRIVER_ENTRY(SrvCommit)
GSB_DRIVER_ENTRY(SrvConnect)
GSB_DRIVER_ENTRY(SrvGetConnectOption)
GSB_DRIVER_ENTRY(SrvSetConnectOption)
GSB_DRIVER_ENTRY(SrvSources)
GSB_DRIVER_ENTRY(SrvDBError)
GSB_DRIVER_ENTRY(SrvDisconnect)
GSB_DRIVER_ENTRY(SrvExecute)
GSB_DRIVER_ENTRY(SrvPrepare)
GSB_DRIVER_ENTRY(SrvBindParm)
GSB_DRIVER_ENTRY(SrvExecutePrep)
#ifndef GSB_DRIVER_WITHOUT_FETCH
GSB_DRIVER_ENTRY(SrvFetch)
#endif
GSB_DRIVER_ENTRY(SrvIterateQualifiers)
GSB_DRIVER_ENTRY(SrvIterateOwners)
GSB_DRIVER_ENTRY(SrvIterateTables)
GSB_DRIVER_ENTRY(SrvIterateColumns)
GSB_DRIVER_ENTRY(SrvNumColumns)
GSB_DRIVER_ENTRY(SrvRollback)
GSB_DRIVER_ENTRY(SrvTableInfo)
GSB_DRIVER_ENTRY(SrvUnloadDriver)
