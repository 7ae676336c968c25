// A program outside the tree over the installed table library and map-table
// library: it includes every installed header of the table library, reads a
// dBASE table through its xBase table, and asks both libraries for their
// versions. Prints "<rows> <first row's field> <Ledgerkit version> <Layerio
// version>".
#include <cstdint>
#include <cstdio>
#include <string>

#include <layerio.h>

#include "tables/qadowrap.h"
#include "tables/qcodes.h"
#include "tables/qcolindx.h"
#include "tables/qcolitem.h"
#include "tables/qcollect.h"
#include "tables/qdate.h"
#include "tables/qdump.h"
#include "tables/qenum.h"
#include "tables/qfldmap.h"
#include "tables/qinifile.h"
#include "tables/qlog.h"
#include "tables/qobject.h"
#include "tables/qrecord.h"
#include "tables/qstringp.h"
#include "tables/qtable.h"
#include "tables/qtablefr.h"
#include "tables/qtblado.h"
#include "tables/qtbldtxt.h"
#include "tables/qtblftxt.h"
#include "tables/qtbltext.h"
#include "tables/qtextfile.h"
#include "tables/qvariant.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: client TABLE.dbf FIELD\n");
    return 2;
  }
  try {
    CQmsFolioRackTable table("", argv[1]);
    table.Open();
    CQmsRecord record;
    table.GetFields(record);
    unsigned long rows = 0;
    std::string first;
    for (table.MoveFirst(); !table.AtEOF(); table.MoveBy(1)) {
      table.FillAllFieldValues(record);
      if (rows++ == 0) first = static_cast<const char*>(*record.GetFieldByName(argv[2]));
    }
    table.Close();

    CQmsStringPtr text;
    int major = 0, minor = 0, revision = 0;
    QmsGlobal().FillVersion(text, major, minor, revision);
    uint32_t lmajor = 0, lminor = 0, lpatch = 0;
    PXGetLibraryVersion(&lmajor, &lminor, &lpatch);
    std::printf("%lu %s %d.%d.%d %u.%u.%u\n", rows, first.c_str(), major, minor, revision, lmajor,
                lminor, lpatch);
  } catch (long code) {
    std::printf("error %ld\n", code);
    return 1;
  }
  return 0;
}
