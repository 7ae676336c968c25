// Record operations of the coordinate-system records (placeholder bodies).
#include <cstring>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

uint16_t CoordSysProjection(const PXCoordSys* record) { return record->projection; }
void CoordSysParamsCopy(const PXCoordSys* record, CoordSysParams* out) { *out = record->params; }
void CoordSysParamsClear(CoordSysParams* block) { std::memset(block, 0, sizeof *block); }
void CoordSysParamsDefault(CoordSysParams* block) { std::memset(block, 0, sizeof *block); }
bool ProjectionNumberValid(int n) { return n >= 0 && n <= 31; }
int ProjectionFamily(int) { return 0; }
int CoordSysRecordUnits(const PXCoordSys*) { return 0; }
int CoordSysUnits(const CoordSys*) { return 0; }
int CoordSysOrientation(const CoordSys*) { return 1; }
int CoordSysSecondOrientation(const CoordSys*) { return 1; }
bool CoordSysIsLayout(const CoordSys*) { return false; }
uint16_t CoordSysRecordWord246(const PXCoordSys*) { return 0; }
void CoordSysGetScale(const CoordSys*, int16_t*, CoordSysParams*, double*, double*, double*,
                      double*) {}
bool CoordSysEqual(const CoordSys*, const CoordSys*) { return false; }
bool CoordSysMatch(const CoordSys*, const CoordSys*, bool) { return false; }
bool CoordSysMatchIgnoringAffine(const CoordSys*, const CoordSys*, bool) { return false; }
bool CoordSysMatchWithInternalAffine(const CoordSys*, const CoordSys*, bool) { return false; }
bool CoordSysRectCompatible(const CoordSys*, const CoordSys*, bool, bool) { return false; }
void PointSanitize(DPoint*) {}
void RectSanitize(DRect*) {}
bool AffineTransformInvert(const double*, double*) { return false; }
void ProjectionDefaultBounds(int, const CoordSysParams*, DRect* out) { *out = DRect{}; }
void CoordSysBoundsInUnits(const CoordSys*, DRect* out, int) { *out = DRect{}; }
void CoordSysDisplayPrecision(const CoordSys*, const IPoint*, DisplaySpec*, DisplaySpec*,
                              DisplaySpec*) {}
int QuadrantSignX(int code) { return code == 1 || code == 4 ? 1 : -1; }
int QuadrantSignY(int code) { return code == 1 || code == 2 ? 1 : -1; }

}  // namespace layerio
