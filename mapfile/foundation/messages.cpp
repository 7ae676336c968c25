// The built-in message table: message texts, user-interface words, clause
// formats, unit names and SQL fragments, by number. Searched from the start;
// the first row with an id wins (3707 stands twice with the same text).
//
// The collation definitions (ids 10000 and up) are kept apart, in
// norm_definitions.cpp, and searched after this table.
#include "mapfile/foundation/messages.h"

namespace layerio {

const MsgRow kMessageTable[] = {
    {480,
     "The indexes of map %s are damaged; all data is intact.  Please pack the graphics of "
     "this database to correct this problem."},
    {524, "Cannot access file %s for reading."},
    {525, "Cannot access file %s for writing."},
    {588, "Too many errors.  Error information has been lost."},
    {611, "An identifier"},
    {612, "A string constant"},
    {613, "A numeric constant"},
    {614, "An unrecognized token."},
    {973, kMsgResourceMissingText},
    {988, "Normalization table character %s cannot be converted."},
    {1960, "Field ^0 cannot hold the value ^1."},
    {2202, "Entire Worksheet"},
    {3023, "Packing graphic data..."},
    {3046, "Indexing field %s of table %s..."},
    {3047, "Indexing field %s..."},
    {3600, "Unsupported Character"},
    {3706, "The index file %s was build using a different language."},
    {3707, "Unable to access index for field %s of table %s."},
    {3707, "Unable to access index for field %s of table %s."},
    {6000, "RAZEDODU"},
    // object kind names
    {6020, "Point"},
    {6021, "Line"},
    {6022, "Arc"},
    {6023, "Polyline"},
    {6024, "Region"},
    {6025, "Text"},
    {6026, "Rectangle"},
    {6027, "Rounded Rectangle"},
    {6028, "Ellipse"},
    {6029, "Frame"},
    {6035, "into "},
    {6108, "TABLE"},
    {6248, "Register Table"},
    {6249, "Delimiter"},
    {6250, "Titles"},
    {6251, "Charset"},
    {6252, "Range"},
    // coordinate-system clause formats
    {6270, "CoordSys Earth Projection %d, %d"},
    {6271, " Bounds (%.12g, %.12g) (%.12g, %.12g)"},
    {6272, "CoordSys NonEarth Units \"%s\""},
    {6273, ", \"%s\""},
    {6274, ", %d, %.12g, %.12g, %.12g, %.12g, %.12g, %.12g, %.12g, %.12g"},
    {6275, "CoordSys Layout Units \"%s\""},
    // field type names, 6300 + type
    {6301, "Char"},
    {6302, "Decimal"},
    {6303, "Integer"},
    {6304, "Smallint"},
    {6305, "Date"},
    {6306, "Logical"},
    {6308, "Float"},
    {6309, "Memo"},
    // unit names, 6400 + unit code
    {6400, "mi"},
    {6401, "km"},
    {6402, "in"},
    {6403, "ft"},
    {6404, "yd"},
    {6405, "mm"},
    {6406, "cm"},
    {6407, "m"},
    {6408, "survey ft"},
    {6409, "nmi"},
    {6410, "twip"},
    {6411, "pt"},
    {6412, "pica"},
    {6413, "degree"},
    {6414, "sq mi"},
    {6415, "sq km"},
    {6416, "sq in"},
    {6417, "sq ft"},
    {6418, "sq yd"},
    {6419, "sq mm"},
    {6420, "sq cm"},
    {6421, "sq m"},
    {6422, "sq survey ft"},
    {6423, "sq nmi"},
    {6424, "sq twip"},
    {6425, "sq pt"},
    {6426, "sq pica"},
    {6427, "sq degree"},
    {6428, "acre"},
    {6429, "hectare"},
    {6430, "li"},
    {6431, "ch"},
    {6432, "rd"},
    {6433, "sq li"},
    {6434, "sq ch"},
    {6435, "sq rd"},
    {6436, "perch"},
    {6437, "rood"},
    {6525, "Index"},
    // table kind names
    {6600, "ASCII"},
    {6601, "WKS"},
    {6602, "XLS"},
    {6603, "DBF"},
    {6604, "NATIVE"},
    {6606, "LINKED"},
    {6607, "ACCESS"},
    {6608, "QUERY"},
    {6609, "ODBC"},
    {6613, "SHAPEFILE"},
    {6615, "WFS"},
    // SQL fragments of the desktop-database driver
    {7100, "CREATE TABLE `%s` (PLOTRIX_ID autoincrement CONSTRAINT primarykey PRIMARY KEY"},
    {7101, "CHAR(%ld)"},
    {7102, "INTEGER"},
    {7103, "SMALLINT"},
    {7104, "CURRENCY"},
    {7105, "DOUBLE"},
    {7106, "DATE"},
    {7107, "LOGICAL"},
    {7108, "DROP TABLE `%s` "},
    {7110, ";pwd="},
    {7111, ";"},
    {7112, "PLOTRIX_ID"},
    {7113, "create unique index `PX_INDEX_FIELD` on `%s`(`%s`)"},
    {7114, "PX_INDEX_FIELD"},
    {7115, "alter table `%s` add `PLOTRIX_ID` counter"},
    {7116, "="},
    {7117, "PX__QUERY__TEMP"},
    {7118, "select `%s` from `%s` where `%s` > %ld"},
    {7119, ","},
    {7120, " "},
    {7121, ")"},
    {7122, "("},
    {7123, ""},
    {7124, "Alter Table `%s` Drop Column `%s`"},
    {7125, "Alter Table `%s` Add Column `%s` %s"},
    {7126, "Drop Index `%s` On `%s`"},
    {0, nullptr},
};

namespace {

const MsgRow* overrideRows = nullptr;

const MsgRow* FindIn(const MsgRow* rows, int32_t id) {
  for (const MsgRow* row = rows; row->id != 0; ++row) {
    if (int64_t(row->id) == int64_t(id)) return row;
  }
  return nullptr;
}

}  // namespace

const MsgRow* MsgFind(int32_t id) {
  if (id == 0) return nullptr;
  if (overrideRows) {
    if (const MsgRow* row = FindIn(overrideRows, id)) return row;
  }
  if (const MsgRow* row = FindIn(kMessageTable, id)) return row;
  return id >= kNormDefinitionFirstId ? FindIn(kNormDefinitionTable, id) : nullptr;
}

void MsgSetOverrideRows(const MsgRow* rows) { overrideRows = rows; }

}  // namespace layerio
