// CQmsFieldMap: pairs the fields of two records so that values can move
// between records of different layouts. The inner record is the prototype
// that receives values, the outer record the data source; the map keeps
// copies of both. Entry i pairs inner handle i with outer handle i (-1: no
// field); several entries may name the same outer field. FillMappedFields
// applies the map to live records, converting each value to the inner
// field's declared type.
#pragma once

#include <cstdint>

#include "tables/qcodes.h"
#include "tables/qdump.h"
#include "tables/qobject.h"
#include "tables/qrecord.h"
#include "tables/qstringp.h"

class CQmsFieldMap : public CQmsObject, public CQmsCollectable, public CQmsDump, public CQmsTest {
 public:
  CQmsFieldMap();
  ~CQmsFieldMap() override;
  CQmsFieldMap& operator=(const CQmsFieldMap& other);

  // Copies of the two records (live and valid, else 23000001 / 22000009),
  // both unlocked; the entries stay as they were.
  void UseRecords(const CQmsRecord& inner, const CQmsRecord& outer);
  // One entry per inner field whose name an outer field has (ignoring case),
  // in inner order; 22000087 when either record has no fields.
  void MapByNames();
  // Fills the first free entry; answers outer width minus inner width and
  // notes a wider outer field in the warning text.
  int MapFromFieldToField(const char* innerName, const char* outerName);
  // Drops the entries that lack either side.
  void RemoveNullMappings();
  // Copies values from outer into inner along the map.
  void FillMappedFields(CQmsRecord& inner, CQmsRecord& outer);
  // Clears both records and the entries; the warning text stays.
  void Clear();

  int GetCount() const { return m_lMapSize; }
  int* GetInnerFieldArray() { return m_pInnerFields; }
  int* GetOuterFieldArray() { return m_pOuterFields; }
  CQmsRecord& GetInnerRec() { return m_InnerRec; }
  CQmsRecord& GetOuterRec() { return m_OuterRec; }
  const char* GetWarning() const { return m_Warning; }
  // False (and both -1) when i is out of range.
  bool GetOneMapping(int i, int& inner, int& outer) const;
  int GetInnerMapping(int i) const;
  int GetOuterMapping(int i) const;
  // The partner of the first entry naming a handle on the other side, or -1.
  int ConvertOuterToInnerFld(int outer) const;
  int ConvertInnerToOuterFld(int inner) const;
  // Every inner handle paired with outer, in entry order, then -1; inners
  // needs room for GetCount() + 1 values.
  void ConvertOuterToInnerFlds(int outer, int* inners) const;

  // Both records to "Reslt.log", then the map itself to its own dump.
  void Dump(QBOOL verbose) override;
  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

 private:
  CQmsFieldMap(const CQmsFieldMap&) = delete;
  void FreeArrays();
  // Both arrays of size entries, every entry -1.
  void NewArrays(int32_t size);

  CQmsRecord m_InnerRec;
  CQmsRecord m_OuterRec;
  int32_t m_lMapSize = 0;
  int* m_pInnerFields = nullptr;
  int* m_pOuterFields = nullptr;
  CQmsStringPtr m_Warning;
};

// Calls each(inner, outer) for every entry of a map that has both sides, in
// entry order.
template <class Each>
void QmsForEachMapping(const CQmsFieldMap& map, Each&& each) {
  for (int i = 0; i < map.GetCount(); i++) {
    int inner = map.GetInnerMapping(i);
    int outer = map.GetOuterMapping(i);
    if (inner >= 0 && outer >= 0) each(inner, outer);
  }
}
