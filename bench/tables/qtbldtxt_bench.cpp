// Reading a one-million-row CSV of eight columns into records through the
// delimited table, beside Miller reading the same file ("mlr --icsv --ojson
// cat", its output thrown away) in the same run. Both report rows per
// second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tables/qtbldtxt.h"

namespace {

constexpr long kRows = 1000000;

// The file is written once per run, in a folder of its own that goes with
// the run.
class RowsFile {
 public:
  RowsFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "gsbbench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    std::ofstream fmt(folder_ + "/rows.fmt", std::ios::binary);
    fmt << "TYPE=,\nEOL=CRLF\nFLN=Yes\n\n"
           "ID Numeric 8\nNAME Character 24\nCITY Character 20\nSTATE Character 2\n"
           "LAT Numeric 10.6\nLON Numeric 11.6\nPOP Numeric 9\nSINCE Date 10 mm/dd/ccyy\n";
    std::ofstream out(folder_ + "/rows.csv", std::ios::binary);
    out << "ID,NAME,CITY,STATE,LAT,LON,POP,SINCE\r\n";
    char line[256];
    for (long i = 1; i <= kRows; i++) {
      // Every third name holds a comma and is quoted.
      std::snprintf(line, sizeof line, "%ld,%s%ld%s,City %ld,%c%c,%.6f,%.6f,%ld,%02ld/%02ld/%ld\r\n", i,
                    i % 3 == 0 ? "\"Store, " : "Store ", i, i % 3 == 0 ? "\"" : "", i % 977, 'A' + int(i % 26),
                    'A' + int(i / 26 % 26), 25.0 + double(i % 2400) / 100.0, -125.0 + double(i % 5800) / 100.0,
                    i * 37 % 900000, 1 + i % 12, 1 + i % 28, 1950 + i % 70);
      out << line;
    }
  }
  ~RowsFile() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path() const { return folder_ + "/rows.csv"; }

 private:
  std::string folder_;
};

std::string CsvPath() {
  static RowsFile file;
  return file.Path();
}

void BM_DelimitedTableRead(benchmark::State& state) {
  const std::string path = CsvPath();
  long rows = 0;
  for (auto _ : state) {
    CQmsDelimTextTable table("", path.c_str(), "");
    table.Open();
    CQmsRecord record;
    table.GetFields(record);
    table.MoveFirst();
    rows = 0;
    while (!table.AtEOF()) {
      table.FillAllFieldValues(record);
      rows++;
      table.MoveBy(1);
    }
    table.Close();
  }
  if (rows != kRows) state.SkipWithError("the table did not read every row");
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["rows"] = double(rows);
}
BENCHMARK(BM_DelimitedTableRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_MillerCsvToJson(benchmark::State& state) {
  const std::string path = CsvPath();
  if (std::system("command -v mlr >/dev/null 2>&1") != 0) {
    state.SkipWithError("Miller (mlr) is not installed");
    return;
  }
  std::string command = "mlr --icsv --ojson cat '" + path + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("mlr failed");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_MillerCsvToJson)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
