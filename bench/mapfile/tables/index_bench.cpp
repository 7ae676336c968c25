// Building a field index on a Char column of a 1,000,000-row native table
// and 100,000 PXFindIndexed lookups (each reading every match), beside
// SQLite on the same values in the same run: CREATE INDEX, then the same
// lookups through one prepared indexed SELECT.
//
// Both sides write without syncing (SQLite: synchronous OFF, journal in
// memory), as the index file layer does not sync either.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/foundation/path.h"
#include "mapfile/tables/dbf.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"

namespace {

using namespace layerio;

constexpr uint32_t kRows = 1000000;
constexpr uint32_t kLookups = 100000;
constexpr int kNameWidth = 20;
// Each name is on two rows.
constexpr uint32_t kDistinct = kRows / 2;

std::string NameOf(uint32_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "name%08u", n);
  return text;
}

int16_t CloseNothing(TableObject*, uint16_t) { return 1; }

// The two stores, filled once per run.
struct Stores {
  std::string dir;
  FieldDef fields[2];
  TableObject table{};
  PXTableHandle handle = 0;
  sqlite3* db = nullptr;
  std::vector<std::string> keys;  // the names looked up, in order

  Stores() {
    char pattern[] = "/tmp/index_bench.XXXXXX";
    dir = ::mkdtemp(pattern);
    if (!PXInitialize(PX_INTERFACE_NUMBER)) Fail("PXInitialize");
    std::memset(fields, 0, sizeof fields);
    std::strcpy(fields[0].name, "Name");
    fields[0].width = kNameWidth;
    fields[0].value.kind = kFieldChar;
    std::strcpy(fields[1].name, "Id");
    fields[1].width = 4;
    fields[1].value.kind = kFieldInteger;
    std::strcpy(table.name, "rows");
    if (!DataSourceCreate("rows", dir.c_str(), -1, 0, &table.source, kDataNative, 2, fields,
                          nullptr, 0) ||
        !DataSourceOpen(&table.source, kFileModeWrite)) {
      Fail("native table");
    }
    table.fields = fields;
    table.fieldCount = 2;

    std::string dbPath = dir + "/rows.sqlite";
    if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) Fail("sqlite3_open");
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA journal_mode=MEMORY");
    Exec("CREATE TABLE rows(name TEXT, id INTEGER)");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO rows VALUES(?, ?)", -1, &insert, nullptr);

    std::mt19937 random(42);
    std::vector<uint32_t> order(kRows);
    for (uint32_t i = 0; i < kRows; ++i) order[i] = i % kDistinct;
    std::shuffle(order.begin(), order.end(), random);
    char* text = nullptr;
    ValueData(&fields[0].value, &text);
    for (uint32_t i = 0; i < kRows; ++i) {
      std::string name = NameOf(order[i]);
      std::strcpy(text, name.c_str());
      fields[1].value.u.i = int32_t(i + 1);
      uint32_t row = 0;
      if (!DataSourceInsert(&table.source, fields, &row)) Fail("insert");
      sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 2, int(i + 1));
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
    DataSourceRelease(&table.source);

    std::string tab = dir + "/rows.TAB";
    handle = SlotRegister(FileTableAddName(tab.c_str(), kFileKindTable), &table, kModeReadWrite,
                          kSlotKindNative, 0, CloseNothing);
    if (!handle) Fail("SlotRegister");
    std::uniform_int_distribution<uint32_t> pick(0, kDistinct - 1);
    for (uint32_t i = 0; i < kLookups; ++i) keys.push_back(NameOf(pick(random)));
  }

  ~Stores() {
    TableIndexesClose(&table);
    DataSourceClose(&table.source, fields);
    PXShutdown();
    sqlite3_close(db);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  void Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      std::fprintf(stderr, "%s: %s\n", sql, message ? message : "");
      std::exit(1);
    }
  }
  static void Fail(const char* what) {
    std::fprintf(stderr, "index_bench: %s failed (%d)\n", what, int(PXGetLastError()));
    std::exit(1);
  }
};

Stores& TheStores() {
  static Stores stores;
  return stores;
}

void BM_BuildIndex(benchmark::State& state) {
  Stores& s = TheStores();
  for (auto _ : state) {
    if (s.table.fields[0].index) {
      state.PauseTiming();
      PXDropIndex(s.handle, 1);
      state.ResumeTiming();
    }
    if (PXCreateIndex(s.handle, 1) != 1) Stores::Fail("PXCreateIndex");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteCreateIndex(benchmark::State& state) {
  Stores& s = TheStores();
  bool made = false;
  for (auto _ : state) {
    if (made) {
      state.PauseTiming();
      s.Exec("DROP INDEX rows_name");
      state.ResumeTiming();
    }
    s.Exec("CREATE INDEX rows_name ON rows(name)");
    made = true;
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}
BENCHMARK(BM_SqliteCreateIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FindIndexed(benchmark::State& state) {
  Stores& s = TheStores();
  if (!s.table.fields[0].index && PXCreateIndex(s.handle, 1) != 1) Stores::Fail("PXCreateIndex");
  uint64_t rows = 0;
  for (auto _ : state) {
    for (const std::string& key : s.keys) {
      uint32_t row = 0;
      for (uint16_t r = PXFindIndexed(s.handle, 1, key.c_str(), 1, &row); r == 1;
           r = PXFindIndexed(s.handle, 1, key.c_str(), 2, &row)) {
        rows += row;
      }
    }
  }
  benchmark::DoNotOptimize(rows);
  state.SetItemsProcessed(int64_t(state.iterations()) * kLookups);
}
BENCHMARK(BM_FindIndexed)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteIndexedSelect(benchmark::State& state) {
  Stores& s = TheStores();
  s.Exec("CREATE INDEX IF NOT EXISTS rows_name ON rows(name)");
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(s.db, "SELECT rowid FROM rows WHERE name = ?", -1, &select, nullptr);
  uint64_t rows = 0;
  for (auto _ : state) {
    for (const std::string& key : s.keys) {
      sqlite3_bind_text(select, 1, key.c_str(), int(key.size()), SQLITE_STATIC);
      while (sqlite3_step(select) == SQLITE_ROW) rows += uint64_t(sqlite3_column_int64(select, 0));
      sqlite3_reset(select);
    }
  }
  sqlite3_finalize(select);
  benchmark::DoNotOptimize(rows);
  state.SetItemsProcessed(int64_t(state.iterations()) * kLookups);
}
BENCHMARK(BM_SqliteIndexedSelect)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
