// What the remote layer does differently by server: workspaces of versioned
// servers, asking whether a table is spatial, setting the server's
// projection, the search-rectangle statements, and the codes of coordinate
// systems that servers name by number.
#include <cstdio>
#include <cstring>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/tables/remote.h"

namespace layerio {

namespace {

constexpr const char* kLiveWorkspace = "LIVE";
constexpr const char* kGotoWorkspace = "BEGIN DBMS_WM.GotoWorkspace('%s'); END;";
constexpr const char* kSdoStatementHead = "Select SDO_ORDCNT from";
constexpr const char* kSdoLayerSuffix = "_SDOLAYER";
constexpr const char* kSqsByOwner = "sp_is_spatial'%s.%s'";
constexpr const char* kSqsByTable = "sp_is_spatial %s";
// The second try of the spatial question, "%s'%s' %s'%s' %s" of these.
constexpr const char* kSqsRetryHead = "exec sp_is_spatial @owner=";
constexpr const char* kSqsRetryTable = ", @table=";
constexpr const char* kSqsRetryTail = "";
// Projection statements by server type; %s the coordinate system's clause
// without its leading "CoordSys ".
constexpr const char* kProjectionType5 = "SELECT GSB_SetProjection('%s')";
constexpr const char* kProjectionType9 = "SELECT GSB_SetProjection('%s') FROM DUAL";
constexpr const char* kProjectionType12 = "CALL GSB_SetProjection('%s')";
constexpr const char* kProjectionType14 =
    "exec sp_spatial_query 'Select TQ_SetProjection(''%s'') from plotrix.plotrix_mapcatalog'";
constexpr const char* kClauseHead = "CoordSys ";
constexpr size_t kClauseMost = 254;

// One "%s" of a format replaced by a text (texts may hold any character).
std::string Format1(const char* format, const std::string& a) {
  std::string out = format;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, a);
  return out;
}

// A text inside a literal or an identifier quoted with `quote`: the quote
// doubled, so that the text cannot end it.
std::string Escaped(const std::string& text, char quote) {
  std::string out;
  for (char c : text) {
    if (c == quote) out += quote;
    out += c;
  }
  return out;
}

// Runs a statement and closes it: 1 when it ran; *row (when given) tells
// whether a first row came, and *first its first column as a number.
int16_t RunStatement(SrvConnection* connection, const std::string& text, bool* row = nullptr,
                     double* first = nullptr) {
  if (row) *row = false;
  SrvStatement* statement = SrvStatementExecute(connection, text.c_str());
  if (!statement) return 0;
  int16_t ok = 1;
  if (row) {
    ok = SrvFetchRow(connection, statement, kSrvFetchNext);
    *row = ok && !statement->atEnd;
    if (*row && first) {
      FieldDef field{};
      field.value.kind = kFieldFloat;
      if (SrvColumnConvert(statement, 1, &field)) {
        *first = field.value.u.d;
      } else {
        ok = 0;
      }
    }
  }
  SrvStatementClose(connection, statement);
  return ok;
}

// The clause of a coordinate system, at most 254 characters.
bool ClauseOf(const CoordSys* coordSys, std::string* out) {
  char text[1024];
  if (!CoordSysWriteClause(coordSys, text, sizeof text, true)) return false;
  out->assign(text, strnlen(text, kClauseMost));
  return true;
}

}  // namespace

bool SrvKindIsOracle(const SrvConnection* connection) {
  const size_t n = std::strlen(kSrvKindOracle);
  return connection && connection->serverKind.size() >= n &&
         StrEqualNoCaseN(connection->serverKind.c_str(), kSrvKindOracle, n);
}

bool SrvKindIs(const SrvConnection* connection, const char* kind) {
  return connection && StrEqualNoCase(connection->serverKind.c_str(), kind);
}

int16_t SrvWorkspaceSwitch(SrvConnection* connection, int versioned, const char* workspace) {
  if (!versioned || !SrvKindIs(connection, kSrvKindOracleSpatial) ||
      connection->serverVersion < 9.0)
    return 1;
  const std::string want = workspace && *workspace ? workspace : "";
  std::string text;
  if (!want.empty()) {
    if (want == connection->workspace) return 1;
    text = Format1(kGotoWorkspace, Escaped(want, '\''));
  } else {
    if (connection->workspace == kLiveWorkspace) return 1;
    text = Format1(kGotoWorkspace, kLiveWorkspace);
  }
  if (!RunStatement(connection, text)) return 0;
  connection->workspace = want.empty() ? kLiveWorkspace : want;
  return 1;
}

int16_t SrvTableSpatialCheck(SrvConnection* connection, const char* owner, const char* table,
                             int16_t* dimensions) {
  const std::string o = owner ? owner : "";
  const std::string t = table ? table : "";
  bool row = false;
  if (SrvKindIs(connection, kSrvKindOracleSdo)) {
    const std::string q(1, connection->quote);
    char head[64];
    std::snprintf(head, sizeof head, "%s ", kSdoStatementHead);
    const std::string text = head + q + Escaped(o, connection->quote) + q + "." + q +
                             Escaped(t + kSdoLayerSuffix, connection->quote) + q;
    double count = 0;
    if (!RunStatement(connection, text, &row, &count) || !row) return 0;
    if (dimensions) *dimensions = int16_t(count / 2);
    return 1;
  }
  if (SrvKindIs(connection, kSrvKindSqs)) {
    std::string text;
    if (connection->hasOwners && !o.empty()) {
      char buffer[2048];
      std::snprintf(buffer, sizeof buffer, kSqsByOwner, Escaped(o, '\'').c_str(),
                    Escaped(t, '\'').c_str());
      text = buffer;
    } else {
      text = Format1(kSqsByTable, t);
    }
    if (!RunStatement(connection, text, &row)) {
      char buffer[2048];
      std::snprintf(buffer, sizeof buffer, "%s'%s' %s'%s' %s", kSqsRetryHead,
                    Escaped(o, '\'').c_str(), kSqsRetryTable, Escaped(t, '\'').c_str(),
                    kSqsRetryTail);
      if (!RunStatement(connection, buffer, &row)) return 0;
    }
    return row ? 1 : 0;
  }
  return 0;
}

int16_t RemoteSetProjection(SrvConnection* connection, int serverType, const CoordSys* coordSys) {
  if (!connection || !coordSys) return 0;
  std::string clause;
  if (!ClauseOf(coordSys, &clause)) return 0;
  if (connection->lastCoordSys == clause && serverType != 12) return 1;
  const char* format = nullptr;
  switch (serverType) {
    case 5:
      format = kProjectionType5;
      break;
    case 9:
    case 11:
      format = kProjectionType9;
      break;
    case 12:
      format = kProjectionType12;
      break;
    case 14:
      format = kProjectionType14;
      break;
    default:
      return 1;  // the server needs no statement
  }
  std::string body = clause;
  if (body.compare(0, std::strlen(kClauseHead), kClauseHead) == 0)
    body.erase(0, std::strlen(kClauseHead));
  bool row = false;
  if (!RunStatement(connection, Format1(format, Escaped(body, '\'')), &row)) return 0;
  connection->lastCoordSys = clause;
  return 1;
}

int16_t RemoteMbrStatementFill(int serverType, const char* templateText, const DRect* rect,
                               std::string* out) {
  out->clear();
  if (!templateText || !*templateText || !rect) return 0;
  switch (serverType) {
    case 9:
    case 10: {
      const double values[4] = {rect->x1, rect->x2, rect->y1, rect->y2};
      const std::string text = templateText;
      size_t from = 0;
      for (double v : values) {
        const size_t at = text.find('?', from);
        if (at == std::string::npos) break;
        char number[64];
        std::snprintf(number, sizeof number, "%.8f", v);
        out->append(text, from, at - from);
        out->append(number);
        from = at + 1;
      }
      out->append(text, from, std::string::npos);
      return 1;
    }
    case 1:
    case 4:
    case 5:
    case 11:
    case 12:
    case 13:
    case 14:
      // The statement is the server's own: the template stands as it is.
      *out = templateText;
      return 1;
    default:
      return 0;
  }
}

// ===== Coordinate-system codes =================================================

namespace {

struct CoordSysCodeEntry {
  int32_t code;
  char clause[256];
};

// Ended by a code below 1.
const CoordSysCodeEntry kCoordSysCodes[] = {
    {8192, "CoordSys Earth Projection 1, 0"},
    {0, ""},
};

}  // namespace

void CoordSysLegacyFix(CoordSys* coordSys) {
  const double* p = coordSys->params.params;
  if (coordSys->params.datum.ellipsoid == 1 && coordSys->projection == 29 && p[0] == 0 &&
      p[1] == 0 && p[2] == 0)
    coordSys->projection = 28;
}

int16_t CoordSysCodeFind(const CoordSys* coordSys, int legacyFix, int32_t* code) {
  *code = 0;
  CoordSys cs = *coordSys;
  if (legacyFix) CoordSysLegacyFix(&cs);
  std::string clause;
  if (!ClauseOf(&cs, &clause)) return 0;
  for (const CoordSysCodeEntry* e = kCoordSysCodes; e->code >= 1; ++e) {
    if (clause == e->clause) {
      *code = e->code;
      return 1;
    }
  }
  return 0;
}

}  // namespace layerio
