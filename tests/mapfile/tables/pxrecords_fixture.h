// Public object records for the tests: a builder whose point, section and
// text arrays live as long as it does, one sample record of every type code,
// and a record described as a list of named values so that two records can be
// compared field by field (coordinates within a tolerance).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "layerio.h"

namespace pxrecords {

template <class T>
inline void Put(PXObject& o, size_t offset, T value) {
  std::memcpy(o.u.bytes + offset, &value, sizeof value);
}
template <class T>
inline T Get(const PXObject& o, size_t offset) {
  T value;
  std::memcpy(&value, o.u.bytes + offset, sizeof value);
  return value;
}

// Records whose point and section arrays live as long as the builder.
class Records {
 public:
  PXObject Make(uint8_t code) {
    PXObject o{};
    o.u.bytes[PX_OBJECT_TYPE] = code;
    return o;
  }
  PXPoint* Points(std::vector<PXPoint> points) {
    points_.push_back(std::move(points));
    return points_.back().data();
  }
  PXSection* Sections(const std::vector<std::vector<PXPoint>>& parts) {
    std::vector<PXSection> entries;
    for (const auto& p : parts) entries.push_back({int32_t(p.size()), 0, Points(p)});
    sections_.push_back(std::move(entries));
    return sections_.back().data();
  }
  const char* Text(std::string text) {
    texts_.push_back(std::move(text));
    return texts_.back().c_str();
  }

 private:
  std::deque<std::vector<PXPoint>> points_;
  std::deque<std::vector<PXSection>> sections_;
  std::deque<std::string> texts_;
};

inline void PutPen(PXObject& o, size_t at, uint32_t width, uint32_t pattern, uint32_t colour) {
  Put<uint32_t>(o, at, width);
  Put<uint32_t>(o, at + 4, pattern);
  Put<uint32_t>(o, at + 8, 0);
  Put<uint32_t>(o, at + 12, colour);
}
inline void PutBrush(PXObject& o, size_t at, uint32_t pattern, uint32_t fore, uint32_t back) {
  Put<uint32_t>(o, at, pattern);
  Put<uint32_t>(o, at + 4, fore);
  Put<uint32_t>(o, at + 8, back);
  Put<uint32_t>(o, at + 12, 1);
}
inline void PutRect(PXObject& o, size_t at, double x1, double y1, double x2, double y2) {
  Put(o, at, x1);
  Put(o, at + 8, y1);
  Put(o, at + 16, x2);
  Put(o, at + 24, y2);
}
inline void PutName(PXObject& o, size_t at, const char* name) {
  std::memcpy(o.u.bytes + at, name, std::strlen(name));
}
inline void PutSymbol(PXObject& o, size_t at, uint8_t code) {
  switch (code) {
    case PX_OBJECT_POINT:
      Put<uint32_t>(o, at + PX_SYMBOL_CODE, 35);
      Put<uint32_t>(o, at + PX_SYMBOL_COLOUR, 0x00FF00);
      Put<int16_t>(o, at + PX_SYMBOL_SIZE, 12);
      break;
    case PX_OBJECT_FONT_POINT:
      Put<uint32_t>(o, at + PX_SYMBOL_CODE, 65);
      Put<uint32_t>(o, at + PX_SYMBOL_COLOUR, 0x0000FF);
      Put<int16_t>(o, at + PX_SYMBOL_SIZE, 18);
      PutName(o, at + PX_FONT_SYMBOL_NAME, "Symbols Sans");
      Put<uint16_t>(o, at + PX_FONT_SYMBOL_STYLE, 0x111);
      Put<double>(o, at + PX_FONT_SYMBOL_ANGLE, 45.5);
      break;
    case PX_OBJECT_CUSTOM_POINT:
      PutName(o, at + PX_CUSTOM_SYMBOL_NAME, "PIN1.BMP");
      Put<uint32_t>(o, at + PX_CUSTOM_SYMBOL_COLOUR, 0x123456);
      Put<int16_t>(o, at + PX_CUSTOM_SYMBOL_SIZE, 24);
      Put<uint16_t>(o, at + PX_CUSTOM_SYMBOL_STYLE, 5);
      break;
  }
}

// ----- one record of every code (coordinates in degrees near 10 E, 5 N) -----

inline const std::vector<PXPoint> kLine3 = {{10.0, 5.0}, {10.2, 5.1}, {10.4, 5.05}};
inline const std::vector<PXPoint> kLong = {{10.0, 5.0}, {10.5, 5.5}, {11.0, 5.2}, {11.5, 5.9}};
inline const std::vector<PXPoint> kShort = {{10.1, 5.6}, {10.15, 5.62}};
inline const std::vector<PXPoint> kOuter = {{10.0, 5.0}, {10.4, 5.0}, {10.4, 5.4}, {10.0, 5.4}};
inline const std::vector<PXPoint> kHole = {{10.1, 5.1}, {10.1, 5.2}, {10.2, 5.2}, {10.2, 5.1}};

inline void PutRegionPart(Records& r, PXObject& o, size_t shift) {
  Put<uint32_t>(o, shift + PX_OBJECT_COUNT, 2);
  PutPen(o, shift + PX_OBJECT_REGION_PEN, 1, 2, 0x102030);
  PutBrush(o, shift + PX_OBJECT_REGION_BRUSH, 2, 0xFFFF00, 0x00FFFF);
  Put<double>(o, shift + PX_OBJECT_REGION_CENTROID_X, 10.3);
  Put<double>(o, shift + PX_OBJECT_REGION_CENTROID_Y, 5.3);
  Put<PXSection*>(o, shift + PX_OBJECT_REGION_POLYGONS, r.Sections({kOuter, kHole}));
}
inline void PutMultiPolylinePart(Records& r, PXObject& o, size_t shift) {
  Put<uint32_t>(o, shift + PX_OBJECT_COUNT, 2);
  Put<uint32_t>(o, shift + PX_OBJECT_POLYLINE_FLAGS, 1);
  PutPen(o, shift + PX_OBJECT_POLYLINE_PEN, 3, 2, 0xFF0000);
  Put<PXSection*>(o, shift + PX_OBJECT_MULTI_POLYLINE_SECTIONS, r.Sections({kLong, kShort}));
}
inline void PutMultipointPart(Records& r, PXObject& o) {
  Put<uint32_t>(o, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE, PX_OBJECT_FONT_POINT);
  PutSymbol(o, PX_OBJECT_MULTIPOINT_SYMBOL, PX_OBJECT_FONT_POINT);
  Put<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT, 3);
  Put<PXPoint*>(o, PX_OBJECT_MULTIPOINT_POINTS, r.Points(kLine3));
}

inline PXObject Sample(Records& r, uint8_t code) {
  PXObject o = r.Make(code);
  switch (code) {
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT:
      Put(o, PX_OBJECT_X, 10.123456);
      Put(o, PX_OBJECT_Y, -5.654321);
      PutSymbol(o, PX_OBJECT_SYMBOL, code);
      break;
    case PX_OBJECT_LINE:
      PutRect(o, PX_OBJECT_X, 10.0, 5.0, 10.5, 4.5);
      PutPen(o, PX_OBJECT_LINE_PEN, 2, 2, 0x0000FF);
      break;
    case PX_OBJECT_ARC:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.4, 5.2);
      Put(o, PX_OBJECT_ARC_START, 30.0);
      Put(o, PX_OBJECT_ARC_END, 120.5);
      PutPen(o, PX_OBJECT_ARC_PEN, 1, 5, 0x00FF00);
      break;
    case PX_OBJECT_POLYLINE:
      Put<uint32_t>(o, PX_OBJECT_COUNT, 3);
      Put<uint32_t>(o, PX_OBJECT_POLYLINE_FLAGS, 1);
      PutPen(o, PX_OBJECT_POLYLINE_PEN, 4, 2, 0x808080);
      Put<PXPoint*>(o, PX_OBJECT_POLYLINE_POINTS, r.Points(kLine3));
      break;
    case PX_OBJECT_REGION:
      PutRegionPart(r, o, 0);
      break;
    case PX_OBJECT_TEXT:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.6, 5.1);
      Put(o, PX_OBJECT_TEXT_LINE_END_X, 10.8);
      Put(o, PX_OBJECT_TEXT_LINE_END_Y, 5.3);
      PutPen(o, PX_OBJECT_TEXT_PEN, 1, 2, 0x00AA00);
      Put<uint16_t>(o, PX_OBJECT_TEXT_ATTRIBUTES, 0x15);  // centred, label line
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_STYLE, 0x05);
      Put<uint16_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FLAGS, 1);
      Put<uint16_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FLAGS + 4, 1);
      PutName(o, PX_OBJECT_TEXT_FONT + PX_FONT_NAME, "Serif");
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FOREGROUND, 0x112233);
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_BACKGROUND, 0xFFFFFF);
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_BACKGROUND_FLAG, 1);
      Put<const char*>(o, PX_OBJECT_TEXT_STRING, r.Text("North\nGate"));
      break;
    case PX_OBJECT_RECTANGLE:
    case PX_OBJECT_ELLIPSE:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.3, 5.2);
      PutPen(o, PX_OBJECT_RECT_PEN, 1, 2, 0);
      PutBrush(o, PX_OBJECT_RECT_BRUSH, 5, 0x00FF00, 0xFFFFFF);
      break;
    case PX_OBJECT_ROUNDED_RECTANGLE:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.3, 5.2);
      Put(o, PX_OBJECT_CORNER_WIDTH, 0.02);
      Put(o, PX_OBJECT_CORNER_HEIGHT, 0.02);
      PutPen(o, PX_OBJECT_ROUNDED_PEN, 1, 2, 0);
      PutBrush(o, PX_OBJECT_ROUNDED_BRUSH, 2, 0x0000FF, 0);
      break;
    case PX_OBJECT_MULTI_POLYLINE:
      PutMultiPolylinePart(r, o, 0);
      break;
    case PX_OBJECT_MULTIPOINT:
      PutMultipointPart(r, o);
      break;
    case PX_OBJECT_COLLECTION:
      PutMultipointPart(r, o);
      PutMultiPolylinePart(r, o, PX_OBJECT_COLLECTION_POLYLINE);
      PutRegionPart(r, o, PX_OBJECT_COLLECTION_REGION);
      break;
  }
  return o;
}

// ----- a record as a list of named values, to compare two records -----

struct NamedValue {
  std::string name;
  double value;
  bool coordinate;
};
using Values = std::vector<NamedValue>;

inline void Add(Values& v, const std::string& name, double value, bool coordinate = false) {
  v.push_back({name, value, coordinate});
}
inline void AddPoints(Values& v, const std::string& name, const uint8_t* points, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    PXPoint p;
    std::memcpy(&p, points + i * sizeof p, sizeof p);
    Add(v, name + ".x" + std::to_string(i), p.x, true);
    Add(v, name + ".y" + std::to_string(i), p.y, true);
  }
}
inline void AddWords(Values& v, const PXObject& o, const std::string& name, size_t at, int words) {
  for (int i = 0; i < words; ++i) Add(v, name + std::to_string(i), Get<uint32_t>(o, at + 4 * i));
}
inline void AddCoords(Values& v, const PXObject& o, const std::string& name, size_t at, int n) {
  for (int i = 0; i < n; ++i) Add(v, name + std::to_string(i), Get<double>(o, at + 8 * i), true);
}
inline void AddName(Values& v, const PXObject& o, const std::string& name, size_t at) {
  std::string text(reinterpret_cast<const char*>(o.u.bytes + at), PX_STYLE_NAME_SIZE);
  for (size_t i = 0; i < text.size(); ++i) Add(v, name + std::to_string(i), text[i]);
}
inline void AddSymbol(Values& v, const PXObject& o, size_t at, uint32_t code) {
  if (code == PX_OBJECT_CUSTOM_POINT) {
    AddName(v, o, "custom.name", at + PX_CUSTOM_SYMBOL_NAME);
    AddWords(v, o, "custom.colour", at + PX_CUSTOM_SYMBOL_COLOUR, 1);
    Add(v, "custom.size", Get<int16_t>(o, at + PX_CUSTOM_SYMBOL_SIZE));
    Add(v, "custom.style", Get<uint16_t>(o, at + PX_CUSTOM_SYMBOL_STYLE));
    return;
  }
  AddWords(v, o, "symbol.code", at, 2);
  Add(v, "symbol.size", Get<int16_t>(o, at + PX_SYMBOL_SIZE));
  if (code == PX_OBJECT_FONT_POINT) {
    AddName(v, o, "symbol.name", at + PX_FONT_SYMBOL_NAME);
    Add(v, "symbol.style", Get<uint16_t>(o, at + PX_FONT_SYMBOL_STYLE));
    Add(v, "symbol.angle", Get<double>(o, at + PX_FONT_SYMBOL_ANGLE));
  }
}
inline void AddSections(Values& v, const PXObject& o, const std::string& name, size_t countAt,
                 size_t pointerAt) {
  uint32_t n = Get<uint32_t>(o, countAt);
  Add(v, name + ".count", n);
  const auto* entries = Get<const PXSection*>(o, pointerAt);
  for (uint32_t i = 0; i < n; ++i) {
    Add(v, name + std::to_string(i) + ".points", entries[i].count);
    AddPoints(v, name + std::to_string(i), reinterpret_cast<const uint8_t*>(entries[i].points),
              uint32_t(entries[i].count));
  }
}
inline void AddMultipoint(Values& v, const PXObject& o) {
  uint32_t type = Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE);
  Add(v, "multipoint.type", type);
  AddSymbol(v, o, PX_OBJECT_MULTIPOINT_SYMBOL, type);
  uint32_t n = Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT);
  Add(v, "multipoint.count", n);
  AddPoints(v, "multipoint", Get<const uint8_t*>(o, PX_OBJECT_MULTIPOINT_POINTS), n);
}
inline void AddMultiPolyline(Values& v, const PXObject& o, size_t shift) {
  Add(v, "polyline.flags", Get<uint32_t>(o, shift + PX_OBJECT_POLYLINE_FLAGS));
  AddWords(v, o, "polyline.pen", shift + PX_OBJECT_POLYLINE_PEN, 4);
  AddSections(v, o, "polyline", shift + PX_OBJECT_COUNT,
              shift + PX_OBJECT_MULTI_POLYLINE_SECTIONS);
}
inline void AddRegion(Values& v, const PXObject& o, size_t shift) {
  AddWords(v, o, "region.pen", shift + PX_OBJECT_REGION_PEN, 4);
  AddWords(v, o, "region.brush", shift + PX_OBJECT_REGION_BRUSH, 4);
  AddCoords(v, o, "region.centroid", shift + PX_OBJECT_REGION_CENTROID_X, 2);
  AddSections(v, o, "region", shift + PX_OBJECT_COUNT, shift + PX_OBJECT_REGION_POLYGONS);
}

inline Values Describe(const PXObject& o) {
  Values v;
  const uint8_t code = o.u.bytes[PX_OBJECT_TYPE];
  Add(v, "type", code);
  switch (code) {
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT:
      AddCoords(v, o, "xy", PX_OBJECT_X, 2);
      AddSymbol(v, o, PX_OBJECT_SYMBOL, code);
      break;
    case PX_OBJECT_LINE:
      AddCoords(v, o, "ends", PX_OBJECT_X, 4);
      AddWords(v, o, "pen", PX_OBJECT_LINE_PEN, 4);
      break;
    case PX_OBJECT_ARC:
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      Add(v, "start", Get<double>(o, PX_OBJECT_ARC_START));
      Add(v, "end", Get<double>(o, PX_OBJECT_ARC_END));
      AddWords(v, o, "pen", PX_OBJECT_ARC_PEN, 4);
      break;
    case PX_OBJECT_POLYLINE: {
      uint32_t n = Get<uint32_t>(o, PX_OBJECT_COUNT);
      Add(v, "count", n);
      Add(v, "flags", Get<uint32_t>(o, PX_OBJECT_POLYLINE_FLAGS));
      AddWords(v, o, "pen", PX_OBJECT_POLYLINE_PEN, 4);
      AddPoints(v, "points", Get<const uint8_t*>(o, PX_OBJECT_POLYLINE_POINTS), n);
      break;
    }
    case PX_OBJECT_REGION:
      AddRegion(v, o, 0);
      break;
    case PX_OBJECT_TEXT: {
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      AddCoords(v, o, "lineEnd", PX_OBJECT_TEXT_LINE_END_X, 2);
      AddWords(v, o, "pen", PX_OBJECT_TEXT_PEN, 4);
      Add(v, "angle", Get<double>(o, PX_OBJECT_TEXT_ANGLE));
      Add(v, "attributes", Get<uint16_t>(o, PX_OBJECT_TEXT_ATTRIBUTES));
      AddWords(v, o, "font.style", PX_OBJECT_TEXT_FONT + PX_FONT_STYLE, 1);
      for (int i = 0; i < 3; ++i)
        Add(v, "font.flag" + std::to_string(i),
            Get<uint16_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FLAGS + 2 * i));
      AddName(v, o, "font.name", PX_OBJECT_TEXT_FONT + PX_FONT_NAME);
      AddWords(v, o, "font.colours", PX_OBJECT_TEXT_FONT + PX_FONT_FOREGROUND, 3);
      const char* text = Get<const char*>(o, PX_OBJECT_TEXT_STRING);
      for (size_t i = 0; text && text[i]; ++i) Add(v, "text" + std::to_string(i), text[i]);
      break;
    }
    case PX_OBJECT_RECTANGLE:
    case PX_OBJECT_ELLIPSE:
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      AddWords(v, o, "pen", PX_OBJECT_RECT_PEN, 4);
      AddWords(v, o, "brush", PX_OBJECT_RECT_BRUSH, 4);
      break;
    case PX_OBJECT_ROUNDED_RECTANGLE:
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      // The object keeps one corner size: the height comes back from it
      // (checked apart, as a projection scales the axes apart).
      AddCoords(v, o, "cornerWidth", PX_OBJECT_CORNER_WIDTH, 1);
      AddWords(v, o, "pen", PX_OBJECT_ROUNDED_PEN, 4);
      AddWords(v, o, "brush", PX_OBJECT_ROUNDED_BRUSH, 4);
      break;
    case PX_OBJECT_MULTI_POLYLINE:
      AddMultiPolyline(v, o, 0);
      break;
    case PX_OBJECT_MULTIPOINT:
      AddMultipoint(v, o);
      break;
    case PX_OBJECT_COLLECTION:
      if (Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT)) AddMultipoint(v, o);
      if (Get<uint32_t>(o, PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_COUNT))
        AddMultiPolyline(v, o, PX_OBJECT_COLLECTION_POLYLINE);
      if (Get<uint32_t>(o, PX_OBJECT_COLLECTION_REGION + PX_OBJECT_COUNT))
        AddRegion(v, o, PX_OBJECT_COLLECTION_REGION);
      break;
  }
  return v;
}

inline void ExpectSame(const Values& expected, const Values& actual, double tolerance,
                const std::string& what) {
  ASSERT_EQ(expected.size(), actual.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i].name, actual[i].name) << what;
    if (expected[i].coordinate)
      EXPECT_NEAR(expected[i].value, actual[i].value, tolerance) << what << " " << expected[i].name;
    else
      EXPECT_DOUBLE_EQ(expected[i].value, actual[i].value) << what << " " << expected[i].name;
  }
}

}  // namespace pxrecords
