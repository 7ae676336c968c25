// lio's map-table commands. They reach the map-table library only through
// its public C interface (layerio.h) and read shapefiles through Zonelib's
// shapefile and dBASE functions, so that they exercise liblayerio.so as any
// other program would. Results are exit values: 0 done, 1 the request cannot
// be carried out, 2 usage.
#pragma once

namespace liotables {

// lio load SRC.shp DEST.TAB ['CLAUSE']
int LoadCommand(int argc, char** argv);
// lio dump TABLE.TAB [--lonlat]
int DumpCommand(int argc, char** argv);

}  // namespace liotables
