// Compound index work over one million rows beside SQLite on the same rows,
// in the same run: building an index on a 20-character name, and 100,000
// seeks of random names that read the row found.
//
// SQLite runs with its defaults except synchronous=OFF (the engine does not
// sync either); its table holds the same four columns.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/xbase/bench_rows.h"
#include "xbase/d4all.h"

namespace {

constexpr long kRows = 1000000;
constexpr int kSeeks = 100000;

struct Row {
  long id;
  std::string name;
  std::string city;
  double amount;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = [] {
    std::vector<Row> out;
    out.reserve(kRows);
    xbasebench::Random random(4711);
    for (long i = 0; i < kRows; i++) {
      Row row;
      row.id = i + 1;
      int n = 6 + int(random.Next() % 14);
      for (int k = 0; k < n; k++) row.name += char('A' + random.Next() % 26);
      int c = 4 + int(random.Next() % 10);
      for (int k = 0; k < c; k++) row.city += char('a' + random.Next() % 26);
      row.amount = double(random.Next() % 10000000) / 100.0;
      out.push_back(std::move(row));
    }
    return out;
  }();
  return rows;
}

// The names to seek: random rows' names, the same for both.
const std::vector<std::string>& SeekNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    xbasebench::Random random(99);
    for (int i = 0; i < kSeeks; i++) out.push_back(Rows()[random.Next() % kRows].name);
    return out;
  }();
  return names;
}

std::string Folder() {
  static std::string folder = [] {
    std::string f = (std::filesystem::temp_directory_path() / "xbase_index_bench").string();
    std::filesystem::remove_all(f);
    std::filesystem::create_directories(f);
    std::atexit([] { std::filesystem::remove_all((std::filesystem::temp_directory_path() / "xbase_index_bench")); });
    return f;
  }();
  return folder;
}

// ---- the engine ----

struct Engine {
  CODE4 c4{};
  DATA4* data = nullptr;
  Engine() {
    code4initLow(&c4, 0, k4version, k4structSize, 1);
    c4.createNewOnly = 0;
    std::string path = Folder() + "/rows.dbf";
    FIELD4INFO fields[] = {{const_cast<char*>("ID"), 'N', 8, 0, 0},
                           {const_cast<char*>("NAME"), 'C', 20, 0, 0},
                           {const_cast<char*>("CITY"), 'C', 14, 0, 0},
                           {const_cast<char*>("AMOUNT"), 'N', 12, 2, 0},
                           {}};
    data = d4create(&c4, path.c_str(), fields);
    FIELD4* id = d4field(data, "ID");
    FIELD4* name = d4field(data, "NAME");
    FIELD4* city = d4field(data, "CITY");
    FIELD4* amount = d4field(data, "AMOUNT");
    for (const Row& row : Rows()) {
      d4appendStart(data, 0);
      d4blank(data);
      f4assignLong(id, row.id);
      f4assign(name, row.name.c_str());
      f4assign(city, row.city.c_str());
      f4assignDouble(amount, row.amount);
      d4append(data);
    }
    d4update(data);
  }
  ~Engine() {
    d4close(data);
    code4initUndo(&c4);
  }
  INDEX4* Build() {
    static char tagName[] = "NAME", expression[] = "NAME";
    TAG4INFO tags[] = {{tagName, expression, nullptr, 0, 0}, {}};
    std::string path = Folder() + "/byname.cdx";
    return i4create(data, path.c_str(), tags);
  }
};

Engine& TheEngine() {
  static Engine* engine = new Engine;
  return *engine;
}

void BM_EngineBuildIndex(benchmark::State& state) {
  Engine& e = TheEngine();
  for (auto _ : state) {
    INDEX4* index = e.Build();
    if (index == nullptr) {
      state.SkipWithError("i4create failed");
      break;
    }
    state.PauseTiming();
    i4close(index);
    std::filesystem::remove(Folder() + "/byname.cdx");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_EngineBuildIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_EngineSeek(benchmark::State& state) {
  Engine& e = TheEngine();
  INDEX4* index = e.Build();
  if (index == nullptr) {
    state.SkipWithError("i4create failed");
    return;
  }
  d4tagSelect(e.data, i4tag(index, "NAME"));
  FIELD4* city = d4field(e.data, "CITY");
  long found = 0;
  for (auto _ : state) {
    for (const std::string& name : SeekNames()) {
      if (d4seek(e.data, name.c_str()) == 0 && f4ptr(city)[0] != ' ') found++;
    }
  }
  if (found != long(state.iterations()) * kSeeks) state.SkipWithError("a name was not found");
  d4tagSelect(e.data, nullptr);
  i4close(index);
  std::filesystem::remove(Folder() + "/byname.cdx");
  state.SetItemsProcessed(state.iterations() * kSeeks);
}
BENCHMARK(BM_EngineSeek)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- SQLite ----

struct Lite {
  sqlite3* db = nullptr;
  Lite() {
    std::string path = Folder() + "/rows.sqlite";
    std::filesystem::remove(path);
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE TABLE t(id INTEGER, name TEXT, city TEXT, amount REAL)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?)", -1, &insert, nullptr);
    for (const Row& row : Rows()) {
      sqlite3_bind_int64(insert, 1, row.id);
      sqlite3_bind_text(insert, 2, row.name.c_str(), int(row.name.size()), SQLITE_STATIC);
      sqlite3_bind_text(insert, 3, row.city.c_str(), int(row.city.size()), SQLITE_STATIC);
      sqlite3_bind_double(insert, 4, row.amount);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  ~Lite() { sqlite3_close(db); }
};

Lite& TheLite() {
  static Lite* lite = new Lite;
  return *lite;
}

void BM_SqliteBuildIndex(benchmark::State& state) {
  Lite& l = TheLite();
  for (auto _ : state) {
    if (sqlite3_exec(l.db, "CREATE INDEX byname ON t(name)", nullptr, nullptr, nullptr) != SQLITE_OK) {
      state.SkipWithError("CREATE INDEX failed");
      break;
    }
    state.PauseTiming();
    sqlite3_exec(l.db, "DROP INDEX byname", nullptr, nullptr, nullptr);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SqliteBuildIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteSeek(benchmark::State& state) {
  Lite& l = TheLite();
  sqlite3_exec(l.db, "CREATE INDEX byname ON t(name)", nullptr, nullptr, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(l.db, "SELECT id, name, city, amount FROM t WHERE name = ?", -1, &select, nullptr);
  long found = 0;
  for (auto _ : state) {
    for (const std::string& name : SeekNames()) {
      sqlite3_bind_text(select, 1, name.c_str(), int(name.size()), SQLITE_STATIC);
      if (sqlite3_step(select) == SQLITE_ROW && sqlite3_column_bytes(select, 2) > 0) found++;
      sqlite3_reset(select);
    }
  }
  sqlite3_finalize(select);
  sqlite3_exec(l.db, "DROP INDEX byname", nullptr, nullptr, nullptr);
  if (found != long(state.iterations()) * kSeeks) state.SkipWithError("a name was not found");
  state.SetItemsProcessed(state.iterations() * kSeeks);
}
BENCHMARK(BM_SqliteSeek)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
