#include "boundary/readbna.h"

#include <string>
#include <vector>

#include "boundary/coordkind.h"

namespace {

constexpr const char* kSyntaxText = "Syntax error.";
constexpr const char* kTooLargeText = "Object too large.";
constexpr const char* kTooManyRingsText = "Too many polygons in object.";
constexpr const char* kTooFewInRingText = "Too few points in last polygon created.\n";
constexpr const char* kMarkerText = "Marker in wrong place.\n";
constexpr const char* kTooFewLeftText = "Too few points for new polygon.\n";
constexpr const char* kUnclosedText = "Ended with an unclosed polygon.";

constexpr size_t kMaxHeaderFields = 4096;

struct Vertex {
  int32_t x;
  int32_t y;
  bool operator==(const Vertex&) const = default;
};

}  // namespace

BNARead::BNARead(BoundaryBuilder& builder, const char* path, int32_t namePosition)
    : ImportRead(builder) {
  if (namePosition < 1 || namePosition > 3) {
    Warn(kBnaInvalidNamePositionText, __LINE__);
    namePosition = 1;
  }
  namePosition_ = namePosition;
  in_ = std::make_unique<ImportLineReader>(error_, path ? path : "");
  ok_ = in_->IsOpen();
}

BNARead::~BNARead() = default;

bool BNARead::Fail(const char* message, int line) {
  in_->Fail(message, line);
  return false;
}

bool BNARead::Number(const char* field, int32_t* out) {
  std::string digits;
  bool negative = false;
  for (const char* p = field; *p; ++p) {
    if (*p == ' ') continue;
    if (*p == '-')
      negative = true;
    else
      digits.push_back(*p);
  }
  const bool geographic = builder_.Header().coordinateKind == kCoordinateKindGeographic;
  int32_t value;
  if (!ParseScaledDecimal(digits, geographic ? 6 : 0, geographic, &value))
    return Fail(kSyntaxText, __LINE__);
  *out = negative ? -value : value;
  return true;
}

bool BNARead::NextPoint(int32_t* x, int32_t* y) {
  if (!in_->NextLine(true)) return false;
  const char* fx = in_->NextField();
  if (!fx) return Fail(kSyntaxText, __LINE__);
  if (!Number(fx, x)) return false;
  const char* fy = in_->NextField();
  if (!fy) return Fail(kSyntaxText, __LINE__);
  return Number(fy, y);
}

bool BNARead::ReadNext() {
  // The next header line: a name at the name position and a count after it.
  std::vector<std::string> fields;
  for (;;) {
    if (!in_->NextLine(false)) {
      if (in_->Failed()) return false;
      status_ = kReadEnded;
      return true;
    }
    fields.clear();
    while (const char* field = in_->NextField()) {
      if (fields.size() == kMaxHeaderFields) break;
      fields.emplace_back(field);
    }
    if (fields.size() > size_t(namePosition_)) break;
  }
  TakeName(name_, fields[size_t(namePosition_) - 1].c_str());
  // The count: a whole number, blanks around it allowed.
  std::string last = fields.back();
  last.erase(0, last.find_first_not_of(' '));
  last.erase(last.find_last_not_of(' ') + 1);
  int32_t count;
  if (!ParseScaledDecimal(last, 0, false, &count) || last.find_first_of(".eE") != last.npos ||
      count == 0)
    return Fail(kSyntaxText, __LINE__);

  if (count == 2) {  // an ellipse: its two lines are passed over
    if (!in_->NextLine(true) || !in_->NextLine(true)) return false;
    status_ = kReadSkipped;
    return true;
  }
  if (count == 1) {
    int32_t x, y;
    if (!NextPoint(&x, &y)) return false;
    QPolygonPoint point(builder_, name_, "", 0, x, y);
    if (!Store(point)) return false;
  } else if (count < 0) {
    if (!ReadLineObject(-int64_t(count))) return false;
  } else if (!ReadRegion(count)) {
    return false;
  }
  ++count_;
  status_ = kReadStored;
  return true;
}

bool BNARead::ReadLineObject(int64_t points) {
  QPolygonLine line(builder_, name_, "", 0);
  for (int64_t i = 0; i < points; ++i) {
    int32_t x, y;
    if (!NextPoint(&x, &y)) return false;
    if (!line.AddPoint(x, y)) return Fail(kTooLargeText, __LINE__);
  }
  return Store(line);
}

bool BNARead::ReadRegion(int64_t points) {
  QPolygonRegion region(builder_, name_, "", 0);
  Vertex first{};     // the object's first point
  Vertex start{};     // the current ring's first point
  int64_t inRing = 0;  // points of the current ring
  bool closed = false;     // the current ring has returned to its start
  bool separator = false;  // and the object's first point followed
  for (int64_t i = 0; i < points; ++i) {
    Vertex v;
    if (!NextPoint(&v.x, &v.y)) return false;
    if (i == 0) {
      first = start = v;
    } else if (!closed) {
      if (v == start) {
        if (inRing < 3) return Fail(kTooFewInRingText, __LINE__);
        closed = true;
        continue;
      }
    } else if (v == first) {
      if (separator) return Fail(kMarkerText, __LINE__);
      separator = true;
      continue;
    } else {
      if (points - i < 3) return Fail(kTooFewLeftText, __LINE__);
      if (!region.EndRing()) return Fail(kTooManyRingsText, __LINE__);
      start = v;
      inRing = 0;
      closed = separator = false;
    }
    if (!region.AddPoint(v.x, v.y)) return Fail(kTooLargeText, __LINE__);
    ++inRing;
  }
  if (!closed) return Fail(kUnclosedText, __LINE__);
  return Store(region);
}
