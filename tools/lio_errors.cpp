#include "mapfile/foundation/error.h"
#include "mapfile/foundation/state.h"
#include "tools/lio_errors.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>


namespace lioerrors {

namespace {

using namespace layerio;

struct CodeRow {
  int32_t code;
  const char* text;
};

// What the library pushes each code for. Some numbers serve two drivers
// (the worksheet readers share 523, 528, 529, 876); their text covers both.
constexpr CodeRow kCodeTexts[] = {
    {301, "a definition clause that is not allowed here"},
    {304, "out of memory"},
    {306, "a value that is not a number"},
    {321, "an old table definition without columns"},
    {329, "not a table definition (its first lines are not \"!table\" and \"!version\")"},
    {348, "a column name that is not valid"},
    {362, "the table is already open"},
    {366, "the file cannot be opened once more"},
    {367, "a file handle that names no file"},
    {368, "too many files are open"},
    {369, "the file already exists"},
    {370, "no such file or folder, or no space left on the device"},
    {371, "the file cannot be opened (the system's error number, the file)"},
    {381, "a name defined twice"},
    {382, "a definition that expands too far"},
    {383, "an include without a file name in quotes"},
    {384, "includes nested too deep"},
    {385, "a text in quotes that is not closed"},
    {386, "the table's data cannot be opened"},
    {387, "an index entry cannot be added"},
    {388, "the index file cannot be opened for writing"},
    {389, "the index cannot be built"},
    {390, "the column's other index has another unique flag"},
    {401, "the query's joins do not chain its tables"},
    {414, "a query column that names nothing"},
    {428, "the object or the table definition cannot be written"},
    {432, "the table definition is already open"},
    {465, "a style value out of range"},
    {471, "a number out of range"},
    {479, "an internal error stopped the work"},
    {497, "the table cannot be created"},
    {501, "a field index cannot be opened"},
    {503, "the table was made by a newer version"},
    {505, "the table's data file is missing or cannot be read"},
    {508, "an index key of a type that cannot be indexed"},
    {521, "not a workbook this library reads"},
    {522, "the worksheet file cannot be read"},
    {523, "the worksheet file cannot be opened, or it is damaged"},
    {528, "the range names nothing in the sheet"},
    {529, "the range is empty or too wide"},
    {530, "the range's columns differ from the table's"},
    {575, "a list that is too long"},
    {584, "the range's corners lie on different sheets"},
    {599, "an unknown clause in the table definition"},
    {606, "an unknown unit"},
    {610, "an unknown table type"},
    {615, "unexpected text, or a keyword is missing"},
    {632, "out of memory"},
    {633, "out of memory"},
    {635, "too many values for the projection"},
    {636, "too few values for the projection"},
    {644, "a table handle or an argument that is not valid"},
    {646, "a unit that is not a unit of length"},
    {675, "a reserved column name"},
    {676, "a name where a column number was expected"},
    {677, "a column number that is not constant"},
    {683, "not a native map table"},
    {689, "a name that is not valid"},
    {694, "a text in quotes was expected"},
    {714, "a type word was expected"},
    {718, "a view cannot be indexed"},
    {721, "a dBASE field of a type that cannot be read"},
    {732, "an empty or inverted range"},
    {754, "the table definition cannot be written"},
    {755, "the table cannot be described"},
    {824, "the view cannot be opened again"},
    {825, "access denied: the file is read-only or held by another program"},
    {851, "a wrong keyword after \"open\" or \"create\""},
    {854, "a value that cannot be converted"},
    {859, "the new name is taken or open; nothing was renamed"},
    {864, "the old file could not be deleted"},
    {873, "the field has no index"},
    {876, "an old or password-protected file that cannot be read"},
    {877, "too many columns"},
    {881, "the row cannot be written"},
    {888, "an unknown projection"},
    {889, "an unknown datum"},
    {890, "an unknown ellipsoid"},
    {891, "the table is open for reading only"},
    {894, "an object without points"},
    {899, "out of memory for a polyline"},
    {900, "out of memory for a region"},
    {906, "values that cannot be compared"},
    {923, "the file's time cannot be read"},
    {961, "the connection is gone"},
    {962, "the statement is gone"},
    {964, "the file is open in another mode"},
    {965, "the expression is too long"},
    {966, "the expression is nested too deep"},
    {972, "the index file is damaged or of another kind"},
    {1240, "the file cannot be copied"},
    {1269, "a definition without a name"},
    {1283, "an unknown charset"},
    {1296, "a definition of nothing"},
    {1309, "an Access database of a version that cannot be read"},
    {1340, "the map file is damaged"},
    {1341, "the map file holds codes of another platform"},
    {1342, "the Access database cannot be changed"},
    {1343, "no Access engine is available"},
    {1345, "the objects cannot be stored"},
    {1351, "the Access row cannot be written"},
    {1357, "an affine transformation that cannot be inverted"},
    {1550, "the server driver cannot be loaded"},
    {1555, "the server driver cannot be loaded"},
    {1560, "the server drivers failed"},
    {1561, "the server driver lacks an entry"},
    {1579, "the remote table has no table name"},
    {1585, "the server refused the spatial column"},
    {1825, "the remote work was cancelled"},
    {1920, "the table has no map part"},
    {1921, "a raster or image definition, not a table"},
    {1922, "a view definition, not a table"},
    {1923, "a definition that cannot be described"},
    {1924, "the charset cannot change while tables are open"},
    {1925, "the row cannot be read"},
    {1926, "compressed points are not supported"},
    {1927, "the table has no metadata"},
    {1928, "no such metadata key"},
    {1929, "the library is not initialised"},
    {1930, "the library refused its initialisation (another interface number)"},
    {1931, "the data file is newer than its definition"},
    {1932, "the file's status cannot be read"},
    {1933, "the view cannot be bound to its tables"},
    {1934, "a query or unknown definition"},
    {1937, "a query definition, not a table"},
    {1950, "the driver is not available here"},
    {1999, "a quote or a line end in a metadata key or value"},
};

// The library's text with printf placeholders filled from the arguments in
// order (a placeholder without one is left out).
std::string Fill(const char* text, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (const char* p = text; *p; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      ++p;
      continue;
    }
    const char* q = p + 1;
    while (*q && (std::isdigit(static_cast<unsigned char>(*q)) || *q == '-' || *q == '.' ||
                  *q == 'l'))
      ++q;
    if (*q != 's' && *q != 'd' && *q != 'u') {
      out += *p;
      continue;
    }
    if (next < args.size()) out += args[next++];
    p = q;
  }
  return out;
}

const char* OwnText(int32_t code) {
  for (const CodeRow& row : kCodeTexts)
    if (row.code == code) return row.text;
  return nullptr;
}

// The text of one record: the table's text filled with its arguments, or
// the description followed by what the arguments name.
std::string RecordText(int32_t code, std::vector<std::string> args, const char* what) {
  if (MsgExists(code)) return Fill(MsgGetText(code), args);
  std::string text = CodeText(code);
  std::string named;
  const std::string_view whole(what);
  for (const std::string& a : args) {
    // A file the report names already (as its path) is not named again.
    if (a.empty() || whole == a ||
        (whole.size() > a.size() && whole.substr(whole.size() - a.size()) == a &&
         whole[whole.size() - a.size() - 1] == '/'))
      continue;
    named += (named.empty() ? "" : ", ") + a;
  }
  if (text.empty()) return named;
  return named.empty() ? text : text + ": " + named;
}

}  // namespace

std::string CodeText(int32_t code) {
  if (MsgExists(code)) return Fill(MsgGetText(code), {});
  const char* own = OwnText(code);
  return own ? own : "";
}

std::string Describe(int32_t code) {
  const std::string text = CodeText(code);
  const std::string number = "error " + std::to_string(code);
  return text.empty() ? number : text + " (" + number + ")";
}

void ReportStack(const char* what, const char* otherwise) {
  const ErrorStack* stack = State().errors;
  const int stored = stack ? std::min<int>(stack->count, kErrorRecordCount) : 0;
  bool any = false;
  for (int i = 0; i < stored; ++i) {
    const ErrorRecord& r = stack->records[i];
    if (r.code == 0) break;
    if (r.code == kErrorSeparatorCode) continue;
    std::vector<std::string> args;
    for (const ErrorRecord::Slot& s : {r.arg0, r.arg1})
      if (s.length && size_t(s.offset) + s.length <= sizeof stack->text)
        args.emplace_back(stack->text + s.offset, strnlen(stack->text + s.offset, s.length));
    int32_t code = r.code;
    if (code == kErrCarriesNumber) {
      // The record stands for the code its first argument carries.
      code = args.empty() ? 0 : std::atoi(args[0].c_str());
      args.clear();
    }
    const std::string text = RecordText(code, args, what);
    const std::string number = "error " + std::to_string(code);
    std::fprintf(stderr, "lio: %s: %s\n", what,
                 text.empty() ? number.c_str() : (text + " (" + number + ")").c_str());
    any = true;
  }
  if (stack && stack->overflow)
    std::fprintf(stderr, "lio: %s: %s\n", what, MsgGetText(kErrTooManyErrors));
  if (!any && !(stack && stack->overflow)) std::fprintf(stderr, "lio: %s: %s\n", what, otherwise);
}

}  // namespace lioerrors
