// The file layer beside plain loops over the same files, in one run:
// sequential 64-byte records of a 200 MB file against pread of each record,
// random records over 1,000 pages (more than the cache holds), and the lines
// of a 100 MB CSV file against fgets. The files are made in a temporary
// folder at the first benchmark and removed at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/state.h"
#include "platform/env.h"

namespace {

using namespace layerio;

constexpr int64_t kRecordFileSize = 200LL << 20;
constexpr int64_t kCsvSize = 100LL << 20;
constexpr int kRecord = 64;

struct Files {
  std::string folder, records, csv;
  std::vector<int64_t> randomOffsets;
  ~Files() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
};

void WriteFile(const std::string& path, int64_t size, bool lines) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::string block;
  std::mt19937 engine(1);
  auto random = [&engine]() { return unsigned(engine()); };
  while (int64_t(block.size()) < (1 << 20)) {
    if (lines) {
      char line[128];
      int n = std::snprintf(line, sizeof line, "%u,\"name %u\",%u.%03u,%u,CODE%u\n",
                            random() % 100000, random() % 5000, random() % 1000, random() % 1000,
                            random() % 77, random() % 900);
      block.append(line, size_t(n));
    } else {
      block.push_back(char(random()));
    }
  }
  for (int64_t done = 0; done < size; done += int64_t(block.size()))
    std::fwrite(block.data(), 1, size_t(std::min<int64_t>(size - done, int64_t(block.size()))), f);
  std::fclose(f);
}

Files& TheFiles() {
  static Files files;
  if (files.folder.empty()) {
    ErrorStackCreate();
    FileCacheInit();
    std::string base = (std::filesystem::temp_directory_path() / "filebench.XXXXXX").string();
    files.folder = ::mkdtemp(base.data()) ? base : std::string();
    files.records = files.folder + "/records.dat";
    files.csv = files.folder + "/lines.csv";
    WriteFile(files.records, kRecordFileSize, false);
    WriteFile(files.csv, kCsvSize, true);
    std::mt19937 engine(2);
    auto random = [&engine]() { return unsigned(engine()); };
    std::vector<int64_t> pages(1000);
    for (auto& p : pages) p = int64_t(random() % unsigned(kRecordFileSize / kFilePageSize));
    for (int i = 0; i < 100000; ++i)
      files.randomOffsets.push_back(pages[random() % pages.size()] * kFilePageSize +
                                    (random() % (kFilePageSize / kRecord)) * kRecord);
  }
  return files;
}

void BM_PlainPreadRecords(benchmark::State& state) {
  Files& files = TheFiles();
  auto& env = platform::Env::Current();
  int fd = env.Open(files.records, platform::kRead);
  char record[kRecord];
  for (auto _ : state) {
    for (int64_t at = 0; at < kRecordFileSize; at += kRecord) env.ReadAt(fd, record, kRecord, at);
    benchmark::DoNotOptimize(record);
  }
  env.Close(fd);
  state.SetBytesProcessed(state.iterations() * kRecordFileSize);
}

void BM_FileReadRecords(benchmark::State& state) {
  Files& files = TheFiles();
  FileHandle h = FileTableAddAny(files.records.c_str(), 0);
  FileOpen(h, kFileModeRead, nullptr);
  char record[kRecord];
  for (auto _ : state) {
    FileSeek(h, 0, 0);
    while (FileRead(h, record, kRecord) == kRecord) {
    }
    benchmark::DoNotOptimize(record);
  }
  FileClose(h);
  FileRelease(h);
  state.SetBytesProcessed(state.iterations() * kRecordFileSize);
}

void BM_PlainPreadRandom(benchmark::State& state) {
  Files& files = TheFiles();
  auto& env = platform::Env::Current();
  int fd = env.Open(files.records, platform::kRead);
  char record[kRecord];
  for (auto _ : state) {
    for (int64_t at : files.randomOffsets) env.ReadAt(fd, record, kRecord, at);
    benchmark::DoNotOptimize(record);
  }
  env.Close(fd);
  state.SetItemsProcessed(state.iterations() * int64_t(files.randomOffsets.size()));
}

void BM_FileReadRandom(benchmark::State& state) {
  Files& files = TheFiles();
  FileHandle h = FileTableAddAny(files.records.c_str(), 0);
  FileOpen(h, kFileModeRead, nullptr);
  char record[kRecord];
  for (auto _ : state) {
    for (int64_t at : files.randomOffsets) {
      FileSeek(h, at, 0);
      FileRead(h, record, kRecord);
    }
    benchmark::DoNotOptimize(record);
  }
  FileClose(h);
  FileRelease(h);
  state.SetItemsProcessed(state.iterations() * int64_t(files.randomOffsets.size()));
}

void BM_PlainFgetsLines(benchmark::State& state) {
  Files& files = TheFiles();
  char line[512];
  for (auto _ : state) {
    std::FILE* f = std::fopen(files.csv.c_str(), "rb");
    int64_t lines = 0;
    while (std::fgets(line, sizeof line, f)) ++lines;
    std::fclose(f);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * kCsvSize);
}

void BM_FileReadLineLines(benchmark::State& state) {
  Files& files = TheFiles();
  FileHandle h = FileTableAddAny(files.csv.c_str(), 0);
  char line[512];
  for (auto _ : state) {
    FileOpenText(h, kFileModeRead, nullptr);
    int64_t lines = 0;
    while (FileReadLine(line, sizeof line, h)) ++lines;
    FileClose(h);
    benchmark::DoNotOptimize(lines);
  }
  FileRelease(h);
  state.SetBytesProcessed(state.iterations() * kCsvSize);
}

BENCHMARK(BM_PlainPreadRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FileReadRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainPreadRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileReadRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFgetsLines)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FileReadLineLines)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
