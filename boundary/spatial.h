// Class facades over the object-file calls of Zonelib: CSpatial, which gives
// found objects as geometry objects in degrees, and GSBObject, which wraps
// one CSpatial and gives results as shapes; the gsb* C calls (zonelib.h,
// boundary/gsbmain.cpp) name GSBObjects by handles. Both classes only call the exported pip* calls.
//
// Ownership: an object-file handle that a CSpatial opened is shared by its
// copies and closed when the last of them closes it or goes away; a handle
// lent with usePipObjectHandle is never closed here. A copy of a GSBObject
// has its own CSpatial (sharing the open file the same way).
//
// Search results: a find returns what the pip call returned, or -1 when the
// hit could not be fetched; the output geometry is filled whenever a find
// reports a hit.
#pragma once

#include <cstdint>
#include <memory>

#include "boundary/geometry.h"
#include "boundary/polygon.h"
#include "boundary/shape.h"
#include "zonelib.h"

class ZONELIB_CLASS CSpatial {
 public:
  CSpatial();
  explicit CSpatial(uint32_t context);
  CSpatial(const CSpatial& other);
  CSpatial& operator=(const CSpatial& other);
  virtual ~CSpatial();

  // The library context for openFile; true when not 0.
  bool setPipHandle(uint32_t context);
  // Searches an object file opened elsewhere (left open here); true when its
  // header could be read.
  bool usePipObjectHandle(uint32_t file);
  // Opens the boundary file and reads its header: 1, or 0 (nothing open).
  int openFile(const char* path, uint32_t mode);
  // 1 when the file holds one kind of object only (points, lines or
  // regions); otherwise the file is closed and the result is 0.
  int isValidFile();
  // Lets go of the file (closing it unless it is lent or still shared); 1.
  int closeFile();

  // Regions by name, containing a point, or overlapping a polygon; the
  // overlap forms give every hit with its code.
  int findPolygon(const char* name, CPolyPolygon* out);
  int findPolygon(const CPipPoint& point, CPolyPolygon* out);
  int findPolygon(const CPolyPolygon& query, CPolyPolygon* out);
  int findNextPolygon(CPolyPolygon* out);
  // All regions overlapping the query, largest share of the query first:
  // 5 with the first and its share in percent, 0 none, -1 when it cannot be
  // fetched. The next form gives the further hits (5), then -1.
  int findPolygon(const CPolyPolygon& query, CPolyPolygon* out, double* percentage);
  int findNextPolygon(CPolyPolygon* out, double* percentage);
  // Objects in the box of distance feet about point, nearest first, fetched
  // as points: 1, or 0 when there are none (further).
  int findNearestPoint(const CPipPoint& point, CPipPoint* out, int distance);
  int findNextPoint(CPipPoint* out);
  // Objects within radius feet of point, nearest first, fetched as lines.
  int findNearestLine(const CPipPoint& point, CPolyLine* out, int radius);
  int findNextLine(CPolyLine* out);
  // Objects whose boxes meet box: 1 with the hit, 0 none (further), -1 on
  // failure or when the hit is not of the kind asked for.
  int findPointByMbr(const CMbr& box, CPipPoint* out);
  int findNextPointByMbr(CPipPoint* out);
  int findLineByMbr(const CMbr& box, CPolyLine* out);
  int findNextLineByMbr(CPolyLine* out);
  int findPolygonByMbr(const CMbr& box, CPolyPolygon* out);
  int findNextPolygonByMbr(CPolyPolygon* out);

  int getAttributeCount(int32_t* count);
  int getAttributeNameByNumber(uint32_t n, char* buffer, int32_t size);
  // As the pip calls; the value is emptied when the last find found nothing.
  int getAttributeInfoByNumber(uint32_t n, gdlAttributeInfoStruct* info);
  int getAttributeInfoByName(const char* name, gdlAttributeInfoStruct* info);
  int isCorrectObjectType() { return 1; }

  // The object at a record offset, with its names: 1, or 0 on any failure.
  int getPoint(uint32_t low, uint32_t high, CPipPoint* out);
  int getLine(uint32_t low, uint32_t high, CPolyLine* out);
  int getPolygon(uint32_t low, uint32_t high, CPolyPolygon* out);

 private:
  friend class GSBObject;
  struct OpenFile;
  struct Fetched;

  uint32_t handle() const;
  void clearFile();
  bool fetch(uint32_t low, uint32_t high, bool single, Fetched& f);
  template <typename Out>
  int getParts(uint32_t low, uint32_t high, Out* out);
  // Fetches the current hit of a search that returned result.
  template <typename Out>
  int fetchHit(int result, Out* out, int kind);
  template <typename Out>
  int fetchPending(CLongCollection& low, CLongCollection& high, Out* out);
  template <typename Out>
  int findNearest(bool lines, const CPipPoint& point, int reach, Out* out);

  uint32_t context_ = 0;
  std::shared_ptr<OpenFile> file_;
  pipObjectFileInfoStruct info_{};
  CLongCollection lineLow_, lineHigh_, pointLow_, pointHigh_, overlapLow_, overlapHigh_;
  CDoubleCollection overlapPercent_;
  uint32_t found_ = 0;
};

class ZONELIB_CLASS GSBObject {
 public:
  // Opens path for searching when it is a valid boundary file; IsValid
  // tells whether it was.
  GSBObject(uint32_t context, const char* path, uint32_t mode, int32_t version);
  GSBObject(const GSBObject& other);
  GSBObject& operator=(const GSBObject& other);
  ~GSBObject();

  bool IsValid() const { return spatial_ != nullptr; }
  bool Open(const char* path, uint32_t mode);
  int Close();
  bool IsOpen() const { return spatial_ && spatial_->handle() != 0; }
  bool IsFileValidForGdl() { return spatial_ && spatial_->isValidFile() != 0; }

  // The pip* calls of the same names on this object's file.
  int32_t HandleFileQuery(pipObjectFileInfoStruct* info);
  int32_t HandleFileQueryEx(pipObjectFileExtraInfoStruct* info);
  int32_t GetAttributeCount(int32_t* count);
  int32_t GetAttributeInfoByNumber(uint32_t n, gdlAttributeInfoStruct* info);
  int32_t GetAttributeInfoByName(const char* name, gdlAttributeInfoStruct* info);
  int32_t FindFirstContaining(int32_t x, int32_t y, uint32_t radius, char* name, int32_t size);
  int32_t FindNext(char* name, int32_t size);
  int32_t SetSearchDistance(uint32_t distance);
  int32_t GetInfo(pipObjectInfoStruct* info);
  int32_t GetHandle(uint32_t* low, uint32_t* high);
  int32_t FileGoto(uint32_t low, uint32_t high);
  int32_t DistanceToBorder(int32_t x, int32_t y);
  int32_t ValidateFilterCriteria(const char* criteria);
  // These also mark the object as searched.
  int32_t FindFirstContainingEx(int32_t x, int32_t y, uint32_t radius, char* name, int32_t size);
  int32_t FindFirstNearest(int32_t x, int32_t y, uint32_t count, char* name, int32_t size);
  int32_t FindFirstNearestEx(int32_t x, int32_t y, uint32_t count, const char* criteria, char* name,
                             int32_t size);

  // The nearest point (kind 1) or line (kind 2) object to the point shape
  // query, within distance feet, as a new shape in *result: 1; 0 and no
  // shape when there is none (further); -3 for a query that is not a point
  // shape or another kind; 104 when memory runs out; -1 on failure.
  int32_t FindNearestPointOrLine(const CGsbShape* query, CGsbShape** result, int32_t kind,
                                 int32_t distance);
  int32_t FindNextPointOrLine(CGsbShape** result, int32_t kind);
  // The region overlapping the polygon shape query most, as a new shape,
  // with its share of the query in percent: 1; 0 when none (further); -3
  // when the query is not a polygon shape (-1 when it is null); 104 when
  // memory runs out.
  int32_t FindPolygonOverlapPercentage(const CGsbShape* query, CGsbShape** result,
                                       double* percentage);
  int32_t FindNextPolygonOverlapPercentage(CGsbShape** result, double* percentage);

  void CheckOut() { checkedOut_ = true; }
  void CheckIn() { checkedOut_ = false; }
  bool IsCheckedOut() const { return checkedOut_; }
  bool HasBeenSearched() const { return searched_; }
  void SetVersion(int32_t version) { version_ = version; }
  int32_t GetVersion() const { return version_; }

 private:
  uint32_t file() const { return spatial_ ? spatial_->handle() : 0; }
  template <typename Find>
  int32_t PointOrLine(CGsbShape** result, int32_t kind, Find find);
  template <typename Find>
  int32_t Overlap(CGsbShape** result, double* percentage, Find find);

  std::unique_ptr<CSpatial> spatial_;
  bool checkedOut_ = false;
  int32_t version_ = 0;
  bool searched_ = false;
};
