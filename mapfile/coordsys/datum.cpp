// Placeholder bodies; the datum operations follow.
#include <cstring>

#include "mapfile/coordsys/datum.h"

namespace layerio {

bool EllipsoidNumberValid(int n) { return n >= 0 && n < kEllipsoidCount; }
void EllipsoidGet(int n, EllipsoidParams* out) {
  const EllipsoidRow& row = kEllipsoidTable[(n >= 0 && n < kEllipsoidCount) ? n : 28];
  out->a = row.semiMajorAxis;
  out->f = row.inverseFlattening == 0 ? 0 : 1 / row.inverseFlattening;
  out->e2 = (2 - out->f) * out->f;
}
bool DatumNumberValid(int) { return false; }
void DatumRecordClear(PXDatum* record) { memset(record, 0, sizeof *record); }
void DatumRecordGet(int, PXDatum* out) { DatumRecordClear(out); out->ellipsoid = 28; }
bool DatumRecordEqual(const PXDatum* a, const PXDatum* b) { return memcmp(a, b, sizeof *a) == 0; }
bool DatumRecordMatches(int, const PXDatum*) { return false; }
bool DatumNumberFind(const PXDatum*, int*) { return false; }
void DatumShiftPoints(const DPoint* in, const PXDatum*, const EllipsoidParams*, DPoint* out,
                      const PXDatum*, const EllipsoidParams*, int n) {
  if (out != in) memmove(out, in, sizeof *in * n);
}
void DatumShiftRect(const DRect* in, const PXDatum*, const EllipsoidParams*, DRect* out,
                    const PXDatum*, const EllipsoidParams*) {
  *out = *in;
}
uint16_t DatumShiftMethod() { return 1; }
void SetDatumShiftMethod(uint16_t) {}
void DatumShiftTermsInit(const PXDatum*, const EllipsoidParams*, const PXDatum*,
                         const EllipsoidParams*, DatumShiftTerms* terms) {
  memset(terms, 0, sizeof *terms);
}
void DatumShiftMolodensky(const DPoint* in, DPoint* out, const DatumShiftTerms*) { *out = *in; }
void DatumShiftHelmert(const DPoint* in, DPoint* out, const DatumShiftTerms*) { *out = *in; }
void DatumShiftAbridged(const DPoint* in, DPoint* out, const DatumShiftTerms*) { *out = *in; }

}  // namespace layerio
