// Geometry of the two object kinds whose shape is given by angles, arcs
// (kind 3) and texts (kind 6), and the line-end forms of texts.
//
// Angles are 16-bit tenths of a degree, counter-clockwise from the positive
// x axis.
//
// Arcs: an arc is the part of the ellipse inscribed in its rectangle that
// runs counter-clockwise from the start angle to the end angle. Its bounds
// are those of its end points, grown to each extreme point of the ellipse
// that the arc passes; an arc that starts and ends in one quadrant and
// sweeps more than 90 degrees covers the whole ellipse rectangle.
//
// Text frames: rotated frames are computed in a working system derived from
// the map's coordinate system that maps the frame onto a window of 0..1000
// with a downward y axis, the way a display sees it, so that a rotation
// keeps its angles on screen whatever the projection's aspect. Heights are
// corrected for the pixel densities of the reference device (96 by 96).
//
// Line ends: texts are stored with CR LF between lines and written in
// statements with the two characters backslash and n. The conversions step
// over double-byte characters whole.
//
// The custom symbol style (SymbolCustomStyleGet and its kin) lives with the
// other stored style forms in styles.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/rect.h"
#include "mapfile/objects/geom.h"

namespace layerio {

// The reference device for which rotated text frames are corrected.
inline constexpr double kTextDeviceDpiX = 96.0;
inline constexpr double kTextDeviceDpiY = 96.0;
inline constexpr int kTextDeviceWidth = 640;
inline constexpr int kTextDeviceHeight = 480;

// ----- arcs -----
// The points of the ellipse inscribed in rect at two angles.
void ArcEndPoints(const IRect* rect, int16_t start, int16_t end, IPoint* startPoint,
                  IPoint* endPoint);
// Sets an arc's bounds from its ellipse rectangle and angles; 0 (no change)
// for other kinds.
int ArcBounds(GeomObject* object);
// Adjusts the angles of an arc whose x axis (mirrorX) or y axis (mirrorY)
// is mirrored. Afterwards the start lies in 0..3599 and the end above the
// start and below 7200.
void ArcAnglesMirror(int16_t* start, int16_t* end, int mirrorX, int mirrorY);

// ----- rotated rectangles and text frames -----
// The four corners of rect turned by angle about (x min, y min) in a space
// whose y axis points down (a display's), in order: that corner, the end of
// the width, the far corner, the end of the height. The turn is
// counter-clockwise as seen on the display.
void DRectRotatedCorners(const DRect* rect, int16_t angle, DPoint corners[4]);
// Replaces rect by the bounds of its rotated corners.
void DRectRotate(DRect* rect, int16_t angle);
// Replaces an integer rectangle by the bounds of the rectangle turned
// counter-clockwise by angle about its top-left corner (x min, y max), the
// way a text turns about the start of its first line. The turn is made in
// the working system, so that it keeps its shape on the ground. Nothing for
// angle 0.
void TextRectRotate(IRect* rect, int16_t angle, const CoordSys* cs);
// The text box in integer map coordinates, taking the angle into account:
// for a turned text the frame holds the bounds of the turned box, and the
// result is the box before the turn (TextFrameUnrotate). An unturned text
// gives its frame. 0 for other kinds.
int TextBoundsRotated(const GeomObject* object, const CoordSys* cs, IRect* out);
// The unrotated text box, in the working units of xf, found from the text's
// frame (the bounds of the rotated text), its angle and its line height.
// Angles are taken modulo a full turn. 0 for other kinds.
int TextFrameUnrotate(const GeomObject* object, const CoordXform* xf, DRect* out);

// The working system of a text frame: derived from cs so that rect maps onto
// a 0..1000 integer plane with a downward y axis, and the transform between
// cs and it (cs is the transform's source).
struct TextWorkSpace {
  CoordSys work;
  CoordXform xf;
};
void TextWorkSpaceInit(TextWorkSpace* space, const CoordSys* cs, const IRect* rect);
// Integer map coordinates of cs into working units, and back.
void TextWorkRectIn(const TextWorkSpace* space, const IRect* in, DRect* out);
void TextWorkRectOut(const TextWorkSpace* space, const DRect* in, IRect* out);

// ----- line ends -----
// Copies length bytes of in to out. Into the stored form (toStored set)
// every backslash-n pair becomes CR LF, out of it every CR LF pair becomes
// backslash-n; the lengths are equal, and exactly length bytes are written
// (no terminator). out may be in.
void TextLineEndsConvert(char* out, const char* in, size_t length, int toStored);
// Removes the CR of every CR LF pair in place; the new length.
size_t TextStripCR(char* text);
// Replaces every single-byte character from by to.
void MbsReplaceChar(char* text, char from, char to);

}  // namespace layerio
