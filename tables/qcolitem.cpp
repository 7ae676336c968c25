#include "tables/qcolitem.h"

#include "tables/qcodes.h"

short CQmsCollectable::CompareValue(CQmsCollectable&) {
  QmsReport(QMS_SEVERE, QMS_SITE("CQmsCollectable", "CompareValue",
                                 "This base class version of CompareValue should not be called."));
  return 0;
}
