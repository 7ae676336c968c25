#include "xbase/tran4.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/xbase/index_fixture.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::FieldList;
using xbasetest::Le16;
using xbasetest::Le32;
using xbasetest::TagList;
using xbasetest::TestCode4;

// One entry of a log, read forwards from the file's bytes.
struct LogEntry {
  uint32_t transId, userId, id1, id2;
  unsigned type;
  std::string data;
};

// Every entry from the start, by the length words; stops at the first one
// that does not fit.
std::vector<LogEntry> ReadLog(const std::string& path) {
  std::string bytes = ReadAll(path);
  std::vector<LogEntry> out;
  size_t at = 0;
  while (at + 36 <= bytes.size()) {
    size_t total = Le32(bytes, at);
    if (total < 36 || at + total > bytes.size()) break;
    size_t header = at + total - 32;
    LogEntry e{Le32(bytes, header), Le32(bytes, header + 4), Le32(bytes, header + 8), Le32(bytes, header + 12),
               Le16(bytes, header + 16), bytes.substr(at + 4, total - 36)};
    EXPECT_EQ(Le32(bytes, header + 18), e.data.size());
    out.push_back(e);
    at += total;
  }
  EXPECT_EQ(at, bytes.size()) << path;
  return out;
}

std::vector<unsigned> Types(const std::vector<LogEntry>& entries) {
  std::vector<unsigned> out;
  for (const auto& e : entries) out.push_back(e.type);
  return out;
}

// A table NAME C(8), NOTE memo, with a unique tag on NAME.
DATA4* CreatePeople(TestCode4* c4, const std::string& path) {
  c4->compatibility = k4dialectFox;
  FieldList fields;
  fields.Add("NAME", 'C', 8).Add("NOTE", 'M');
  TagList tags;
  tags.Add("NAME", "NAME", "", r4unique);
  return d4create(c4, path.c_str(), fields.get(), tags.get());
}

// The same, opened again: the handle d4create gives is not logged.
DATA4* OpenPeople(TestCode4* c4, const std::string& path) {
  DATA4* data = CreatePeople(c4, path);
  if (data == nullptr || d4close(data) != 0) return nullptr;
  return d4open(c4, path.c_str());
}

std::string Name(DATA4* data) { return xbasetest::Trimmed(d4field(data, "NAME")); }
std::string Note(DATA4* data) {
  FIELD4* note = d4field(data, "NOTE");
  return std::string(f4memoPtr(note), f4memoLen(note));
}
int Change(DATA4* data, long rec, const char* name, const char* note) {
  if (int rc = d4go(data, rec)) return rc;
  f4assign(d4field(data, "NAME"), name);
  f4memoAssign(d4field(data, "NOTE"), note);
  return d4write(data, rec);
}
int Add(DATA4* data, const char* name, const char* note) {
  if (int rc = d4appendStart(data, 0)) return rc;
  d4blank(data);
  f4assign(d4field(data, "NAME"), name);
  f4memoAssign(d4field(data, "NOTE"), note);
  return d4append(data);
}
// The record the tag finds for a name, or 0.
long Seek(DATA4* data, const char* name) {
  d4tagSelect(data, d4tag(data, "NAME"));
  int rc = d4seek(data, name);
  d4tagSelect(data, nullptr);
  return rc == 0 ? d4recNo(data) : 0;
}

TEST(Log, ANewLogHoldsOneMarkerAndACleanCloseAddsAnother) {
  TempDir dir;
  const std::string path = dir.File("trail.log");
  {
    TestCode4 c4;
    ASSERT_EQ(code4logCreate(&c4, dir.File("trail").c_str(), nullptr), 0);
    std::string bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 36u);
    EXPECT_EQ(Le32(bytes, 0), 36u);
    EXPECT_EQ(Le16(bytes, 4 + 16), 16u);
    EXPECT_EQ(Le32(bytes, 4 + 12), 3u);
    EXPECT_EQ(Le32(bytes, 4 + 18), 0u);
    // An existing log is never created over.
    TestCode4 other;
    EXPECT_EQ(code4logCreate(&other, path.c_str(), nullptr), e4trans);
  }
  EXPECT_EQ(ReadAll(path).size(), 72u);
  TestCode4 c4;
  ASSERT_EQ(code4logOpen(&c4, path.c_str(), "SOMEBODY-LONG-NAME"), 0);
  std::vector<LogEntry> log = ReadLog(path);
  ASSERT_EQ(Types(log), (std::vector<unsigned>{16, 16, 15}));
  EXPECT_EQ(log[2].data, std::string("\0\0\x0A\0SOMEBODY-L", 14));
  EXPECT_EQ(log[2].userId, 1u);
  EXPECT_TRUE(c4.reports.empty());
}

TEST(Log, AMissingLogIsNotMadeByOpening) {
  TempDir dir;
  TestCode4 c4;
  EXPECT_EQ(code4logOpen(&c4, dir.File("none").c_str(), nullptr), r4noOpen);
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.log")));
  EXPECT_TRUE(c4.reports.empty());
  // A table opened without a log is not logged, and its writes start no
  // transaction.
  error4set(&c4, 0);
  FieldList fields;
  fields.Add("NAME", 'C', 4);
  DATA4* data = d4create(&c4, dir.File("plain.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(AppendRow(data, {{"NAME", "a"}}), 0);
  EXPECT_EQ(code4tranStatus(&c4), r4inactive);
  EXPECT_EQ(data->logged, 0);
}

// Logs that are refused, and the report each gives.
TEST(Log, DamagedLogsAreRefused) {
  auto entry = [](unsigned type, uint32_t dataLength = 0) {
    std::string e = Le32(36 + dataLength) + std::string(dataLength, 'x');
    std::string header(32, '\0');
    header[16] = char(type);
    header[18] = char(dataLength);
    return e + header;
  };
  struct Case {
    const char* what;
    std::string bytes;
    int code;
    long location;
  };
  const Case cases[] = {
      {"too short", entry(16), e4trans, E4_TRAN_INVALID_FILE},
      {"interrupted", entry(16) + entry(16) + entry(4), e4trans, E4_TRAN_INVALID_FILE},
      {"last length word", entry(16) + entry(15, 4), e4trans, E4_TRAN_INVALID_FILE},
      {"first length word", entry(15, 4) + entry(16), e4read, E4_TRAN4},
      {"backed up", entry(17) + entry(16), e4trans, E4_TRAN_BACKED_UP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string path = dir.Write("bad.log", c.bytes);
    TestCode4 c4;
    EXPECT_EQ(code4logOpen(&c4, path.c_str(), nullptr), -1);
    ASSERT_NE(c4.Last(), nullptr);
    EXPECT_EQ(c4.Last()->code, c.code);
    EXPECT_EQ(c4.Last()->location, c.location);
    EXPECT_EQ(c4.logFileOpen, 0);
    EXPECT_EQ(ReadAll(path), c.bytes);  // never written to
  }
  EXPECT_STREQ(error4locationText(E4_TRAN_INVALID_FILE), "invalid transaction file - run recovery utility");
}

TEST(Transaction, StateConflicts) {
  TempDir dir;
  TestCode4 c4;
  ASSERT_EQ(code4logCreate(&c4, dir.File("c4.log").c_str(), "PUBLIC"), 0);
  EXPECT_EQ(code4tranRollback(&c4), e4transStatus);
  EXPECT_EQ(c4.Last()->location, E4_TRAN_NO_ROLLBACK);
  error4set(&c4, 0);
  EXPECT_EQ(code4tranCommitPhaseTwo(&c4, 0), e4commit);
  EXPECT_EQ(c4.Last()->location, E4_TRAN_NOT_PARTIAL);
  EXPECT_STREQ(error4locationText(c4.Last()->location), "attempt to complete non-partial transaction");
  error4set(&c4, 0);
  EXPECT_EQ(code4tranCommit(&c4), e4transStatus);
  EXPECT_EQ(c4.Last()->location, E4_TRAN_NO_COMMIT);
  error4set(&c4, 0);
  ASSERT_EQ(code4tranStart(&c4), 0);
  EXPECT_EQ(code4tranStatus(&c4), r4active);
  EXPECT_EQ(code4tranStart(&c4), e4trans);
  error4set(&c4, 0);
  ASSERT_EQ(code4tranCommitPhaseOne(&c4, 0), 0);
  EXPECT_EQ(code4tranStatus(&c4), r4partial);
  ASSERT_EQ(code4tranCommitPhaseTwo(&c4, 0), 0);
  EXPECT_EQ(code4tranStatus(&c4), r4inactive);

  TestCode4 off;
  off.logOpen = 0;
  EXPECT_EQ(code4tranStart(&off), e4trans);
  EXPECT_EQ(off.Last()->location, E4_TRAN_LOG_OPEN_OFF);
  error4set(&off, 0);
  EXPECT_EQ(code4tranRollback(&off), e4trans);
  EXPECT_EQ(off.Last()->location, E4_TRAN_NOT_ENABLED);
}

// Every kind of entry a session writes, in order, with the transaction ids
// of one user: the user id, then 1000 more each time, continued by the next
// session from the log.
TEST(Transaction, EntriesOfASession) {
  TempDir dir;
  const std::string log = dir.File("c4.log");
  const std::string table = dir.File("people.dbf");
  {
    TestCode4 c4;
    ASSERT_EQ(code4logCreate(&c4, log.c_str(), "PUBLIC"), 0);
    DATA4* data = CreatePeople(&c4, table);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(d4close(data), 0);
    data = d4open(&c4, table.c_str());
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->logged, 1);
    ASSERT_EQ(Add(data, "ann", "first note"), 0);  // a transaction of its own
    ASSERT_EQ(code4tranStart(&c4), 0);
    ASSERT_EQ(Change(data, 1, "bob", "second"), 0);
    ASSERT_EQ(Add(data, "cy", ""), 0);
    ASSERT_EQ(code4tranRollback(&c4), 0);
    ASSERT_EQ(d4pack(data), 0);
    ASSERT_EQ(d4close(data), 0);
    EXPECT_TRUE(c4.reports.empty());
  }
  std::vector<LogEntry> entries = ReadLog(log);
  // The table's own open and close by d4create are not logged.
  const std::vector<unsigned> expected = {16, 15, 11, 1, 4, 9, 5, 6, 4, 8, 9, 7, 12, 3, 16};
  ASSERT_EQ(Types(entries), expected);
  std::vector<uint32_t> ids;
  for (const auto& e : entries) ids.push_back(e.transId);
  EXPECT_EQ(ids, (std::vector<uint32_t>{0, 0, 0, 0, 1, 1, 1, 1, 1001, 1001, 1001, 1001, 0, 0, 0}));
  // The created file: dialect, name, fields and tags.
  const std::string& create = entries[2].data;
  EXPECT_EQ(Le16(create, 0), 30u);
  EXPECT_EQ(create.substr(4, table.size()), table);
  EXPECT_EQ(entries[2].id1, 0xFFFFFFFFu);
  // The open entry names the file and its shape.
  const std::string& open = entries[3].data;
  ASSERT_EQ(Le16(open, 0), table.size());
  EXPECT_EQ(open.substr(2, table.size()), table);
  const size_t after = 2 + table.size();
  EXPECT_EQ(Le32(open, after), 1u + 8 + 4);  // record width
  EXPECT_EQ(Le16(open, after + 4), 2u);      // fields
  EXPECT_EQ(Le32(open, after + 6), 0u);      // records
  const uint32_t server = entries[3].id1;
  // An append: record number, record, each memo.
  const std::string& append = entries[5].data;
  EXPECT_EQ(entries[5].id1, server);
  EXPECT_EQ(Le32(append, 0), 1u);
  EXPECT_EQ(append.substr(4, 9), " ann     ");
  EXPECT_EQ(Le32(append, 4 + 13), 10u);
  EXPECT_EQ(append.substr(4 + 13 + 4), "first note");
  // A change: record number, old and new record, old and new memo.
  const std::string& change = entries[9].data;
  EXPECT_EQ(Le32(change, 0), 1u);
  EXPECT_EQ(change.substr(4, 9), " ann     ");
  EXPECT_EQ(change.substr(4 + 13, 9), " bob     ");
  size_t memo = 4 + 2 * 13;
  ASSERT_EQ(Le32(change, memo), 10u);
  EXPECT_EQ(change.substr(memo + 4, 10), "first note");
  EXPECT_EQ(Le32(change, memo + 14), 6u);
  EXPECT_EQ(change.substr(memo + 18), "second");

  // The next session continues the user's ids.
  TestCode4 c4;
  ASSERT_EQ(code4logOpen(&c4, log.c_str(), nullptr), 0);
  ASSERT_EQ(code4tranStart(&c4), 0);
  EXPECT_EQ(c4.transId, 2001);
  ASSERT_EQ(code4tranCommit(&c4), 0);
  ASSERT_EQ(code4tranStart(&c4), 0);
  EXPECT_EQ(c4.transId, 3001);
  ASSERT_EQ(code4tranCommit(&c4), 0);
}

// Undone newest first: a record changed twice gets its first image back,
// with its memo and its key; appended records go, with their keys.
TEST(Transaction, RollbackRestoresRecordsKeysAndMemos) {
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());  // reads the table while it is open
  ASSERT_EQ(code4logCreate(&c4, dir.File("c4.log").c_str(), "PUBLIC"), 0);
  DATA4* data = OpenPeople(&c4, dir.File("people.dbf"));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(Add(data, "ann", "original note"), 0);
  ASSERT_EQ(Add(data, "bob", ""), 0);

  ASSERT_EQ(code4tranStart(&c4), 0);
  ASSERT_EQ(Change(data, 1, "amy", "a much longer note than before, so it moves"), 0);
  ASSERT_EQ(Change(data, 1, "ava", "short"), 0);
  ASSERT_EQ(Change(data, 2, "ann", "taken"), 0);  // the key ann is free now
  ASSERT_EQ(Add(data, "cy", "appended"), 0);
  ASSERT_EQ(Add(data, "dee", ""), 0);
  EXPECT_EQ(d4recCount(data), 4);
  ASSERT_EQ(d4go(data, 3), 0);  // the handle stands on a record that goes
  ASSERT_EQ(code4tranRollback(&c4), 0);

  EXPECT_EQ(d4recCount(data), 2);
  EXPECT_EQ(d4eof(data), 1);
  ASSERT_EQ(d4go(data, 1), 0);
  EXPECT_EQ(Name(data), "ann");
  EXPECT_EQ(Note(data), "original note");
  ASSERT_EQ(d4go(data, 2), 0);
  EXPECT_EQ(Name(data), "bob");
  EXPECT_EQ(Note(data), "");
  EXPECT_EQ(Seek(data, "ann"), 1);
  EXPECT_EQ(Seek(data, "bob"), 2);
  for (const char* gone : {"amy", "ava", "cy", "dee"}) EXPECT_EQ(Seek(data, gone), 0) << gone;
  EXPECT_EQ(xbasetest::TagEntries(d4tag(data, "NAME")).size(), 2u);
  // The file ends after the second record.
  const std::string bytes = ReadAll(dir.File("people.dbf"));
  EXPECT_EQ(bytes.size(), size_t(data->dataFile->headerLen) + 2 * 13 + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_TRUE(c4.reports.empty());
  // Writes after the rollback are logged in a transaction of their own again.
  ASSERT_EQ(Change(data, 2, "bo", "x"), 0);
  ASSERT_EQ(d4close(data), 0);
  std::vector<unsigned> types = Types(ReadLog(dir.File("c4.log")));
  EXPECT_EQ(std::vector<unsigned>(types.end() - 6, types.end()), (std::vector<unsigned>{7, 4, 8, 5, 6, 3}));
}

// The tag's entries as "name:record", in key order.
std::vector<std::string> NameEntries(DATA4* data) {
  std::vector<std::string> out;
  for (const auto& [key, rec] : xbasetest::TagEntries(d4tag(data, "NAME"))) {
    out.push_back(key.substr(0, key.find_last_not_of(' ') + 1) + ":" + std::to_string(rec));
  }
  return out;
}

// Inside a transaction a unique tag keeps a changed record's old key, so the
// record is still found by it; the key goes with the commit, or is freed at
// once when another record takes it. A refused change and a change back
// leave the held keys as they were.
TEST(Transaction, UniqueOldKeysStayUntilTheCommit) {
  // Under every unique mode; the default one adds nothing on a duplicate.
  for (int mode : {int(r4uniqueContinue), int(e4unique)}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    TestCode4 c4;
    c4.errDefaultUnique = int16_t(mode);
    ASSERT_EQ(code4logCreate(&c4, dir.File("c4.log").c_str(), "PUBLIC"), 0);
    DATA4* data = OpenPeople(&c4, dir.File("people.dbf"));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(Add(data, "ann", ""), 0);
    ASSERT_EQ(code4tranStart(&c4), 0);
    ASSERT_EQ(Change(data, 1, "amy", ""), 0);
    EXPECT_EQ(Seek(data, "ann"), 1);
    ASSERT_EQ(code4tranCommit(&c4), 0);
    EXPECT_EQ(Seek(data, "ann"), 0);
    EXPECT_EQ(Seek(data, "amy"), 1);
  }

  TempDir dir;
  TestCode4 c4;
  c4.errDefaultUnique = r4unique;
  ASSERT_EQ(code4logCreate(&c4, dir.File("c4.log").c_str(), "PUBLIC"), 0);
  DATA4* data = OpenPeople(&c4, dir.File("people.dbf"));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(Add(data, "ann", ""), 0);
  ASSERT_EQ(Add(data, "bob", ""), 0);
  ASSERT_EQ(Add(data, "cy", ""), 0);

  ASSERT_EQ(code4tranStart(&c4), 0);
  ASSERT_EQ(Change(data, 1, "amy", ""), 0);
  EXPECT_EQ(Seek(data, "ann"), 1);
  EXPECT_EQ(Seek(data, "amy"), 1);
  ASSERT_EQ(Change(data, 2, "ann", ""), 0);  // takes the held key
  EXPECT_EQ(Seek(data, "ann"), 2);
  EXPECT_EQ(Seek(data, "bob"), 2);
  EXPECT_EQ(Change(data, 1, "ann", ""), r4unique);
  ASSERT_EQ(d4changed(data, 0), 1);
  ASSERT_EQ(Change(data, 3, "cyd", ""), 0);
  ASSERT_EQ(Change(data, 3, "cy", ""), 0);  // back to the held key
  ASSERT_EQ(Add(data, "bob", ""), 0);        // an append takes a held key too
  EXPECT_EQ(NameEntries(data), (std::vector<std::string>{"amy:1", "ann:2", "bob:4", "cy:3", "cyd:3"}));
  ASSERT_EQ(code4tranCommit(&c4), 0);
  EXPECT_EQ(NameEntries(data), (std::vector<std::string>{"amy:1", "ann:2", "bob:4", "cy:3"}));

  // A change in a transaction of its own is committed at once.
  ASSERT_EQ(Change(data, 4, "dee", ""), 0);
  EXPECT_EQ(Seek(data, "bob"), 0);

  // A rollback puts every key back as it was.
  ASSERT_EQ(code4tranStart(&c4), 0);
  ASSERT_EQ(Change(data, 1, "eve", ""), 0);
  ASSERT_EQ(Change(data, 2, "amy", ""), 0);
  ASSERT_EQ(code4tranRollback(&c4), 0);
  EXPECT_EQ(NameEntries(data), (std::vector<std::string>{"amy:1", "ann:2", "cy:3", "dee:4"}));
  ASSERT_EQ(code4tranStart(&c4), 0);
  ASSERT_EQ(code4tranCommit(&c4), 0);
  EXPECT_EQ(NameEntries(data), (std::vector<std::string>{"amy:1", "ann:2", "cy:3", "dee:4"}));
  EXPECT_TRUE(c4.reports.empty());
}

// Closing a table inside a transaction keeps it for the rollback; a commit
// writes the headers the transaction held back.
TEST(Transaction, CommitWritesHeadersAndClosesKeptTables) {
  TempDir dir;
  TestCode4 c4;
  ASSERT_EQ(code4logCreate(&c4, dir.File("c4.log").c_str(), "PUBLIC"), 0);
  DATA4* data = OpenPeople(&c4, dir.File("people.dbf"));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(code4tranStart(&c4), 0);
  ASSERT_EQ(Add(data, "ann", "n"), 0);
  ASSERT_EQ(Add(data, "bob", "m"), 0);
  ASSERT_EQ(d4close(data), 0);
  EXPECT_EQ(c4.closedDataList.numLinks, 1u);
  EXPECT_EQ(Le32(ReadAll(dir.File("people.dbf")), 4), 0u);
  ASSERT_EQ(code4tranCommit(&c4), 0);
  EXPECT_EQ(c4.closedDataList.numLinks, 0u);
  EXPECT_EQ(c4.dataList.numLinks, 0u);
  EXPECT_EQ(Le32(ReadAll(dir.File("people.dbf")), 4), 2u);

  // Rolled back after its close, the table is closed with its records gone.
  data = d4open(&c4, dir.File("people.dbf").c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(code4tranStart(&c4), 0);
  ASSERT_EQ(Add(data, "cy", ""), 0);
  ASSERT_EQ(d4close(data), 0);
  ASSERT_EQ(code4tranRollback(&c4), 0);
  EXPECT_EQ(c4.closedDataList.numLinks, 0u);
  EXPECT_EQ(Le32(ReadAll(dir.File("people.dbf")), 4), 2u);
  EXPECT_TRUE(c4.reports.empty());
}

// The log is walked backwards by lengths read from the file itself: a
// length that would lead outside the file or before its start is a damaged
// log, never a read outside it. The log stays busy afterwards.
TEST(Transaction, RollbackOverADamagedLogFails) {
  struct Case {
    const char* what;
    int fromEnd;      // bytes before the log's end
    uint32_t value;   // written there
  };
  const Case cases[] = {
      {"data length beyond the start", 32 - 18, 0x7FFFFFF0u},
      {"data length one entry too long", 32 - 18, 21 + 36},
      {"length word disagrees", 0, 0},  // set below: the change's length word
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TestCode4 c4;
    const std::string logPath = dir.File("c4.log");
    ASSERT_EQ(code4logCreate(&c4, logPath.c_str(), "PUBLIC"), 0);
    DATA4* data = OpenPeople(&c4, dir.File("people.dbf"));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(code4tranStart(&c4), 0);
    ASSERT_EQ(Add(data, "ann", ""), 0);
    const size_t length = ReadAll(logPath).size();
    {
      std::fstream log(logPath, std::ios::in | std::ios::out | std::ios::binary);
      size_t at = length - size_t(c.fromEnd);
      std::string word = Le32(c.value);
      if (c.fromEnd == 0) {
        // The append's entry starts right after the start entry.
        at = length - (36 + 4 + 13 + 4);
        word = Le32(12345);
      }
      log.seekp(std::streamoff(at));
      log.write(word.data(), 4);
    }
    EXPECT_EQ(code4tranRollback(&c4), e4trans);
    ASSERT_NE(c4.Last(), nullptr);
    EXPECT_EQ(c4.Last()->location, E4_TRAN_INVALID_FILE);
    error4set(&c4, 0);
    EXPECT_EQ(code4tranStatus(&c4), r4inactive);
    EXPECT_EQ(code4tranStart(&c4), e4trans);
    EXPECT_EQ(c4.Last()->location, E4_TRAN_INVALID_FILE);
    error4set(&c4, 0);
    // Nothing more is written unlogged: the table refuses changes.
    EXPECT_LT(Add(data, "bob", ""), 0);
  }
}

// The data file's hook flushes the log only when entries wait.
class SyncCounter : public platform::EnvWrapper {
 public:
  SyncCounter() : EnvWrapper(platform::Env::Current()), scope_(*this) {}
  int Sync(int fd) override {
    syncs++;
    return target_.Sync(fd);
  }
  int syncs = 0;

 private:
  platform::ScopedEnv scope_;
};

TEST(Transaction, LogFlushHook) {
  TempDir dir;
  TestCode4 c4;
  EXPECT_EQ(tran4logFlushPending(&c4), 0);
  ASSERT_EQ(code4logCreate(&c4, dir.File("c4.log").c_str(), "PUBLIC"), 0);
  SyncCounter counter;
  ASSERT_EQ(code4tranStart(&c4), 0);  // its entry waits for the commit
  EXPECT_EQ(counter.syncs, 0);
  EXPECT_EQ(tran4logFlushPending(&c4), 0);
  EXPECT_EQ(counter.syncs, 1);
  EXPECT_EQ(tran4logFlushPending(&c4), 0);
  EXPECT_EQ(counter.syncs, 1);
  ASSERT_EQ(code4tranCommit(&c4), 0);
  EXPECT_EQ(counter.syncs, 2);  // the completing entry alone
}

// ---- a process killed in the middle of its writes ----

// Kills the process in its n-th write, after half of that write's bytes.
class KillingEnv : public platform::EnvWrapper {
 public:
  explicit KillingEnv(int n) : EnvWrapper(platform::Env::Current()), left_(n), scope_(*this) {}
  int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
    if (--left_ == 0) {
      target_.WriteAt(fd, b, n / 2, o);
      std::raise(SIGKILL);
    }
    return target_.WriteAt(fd, b, n, o);
  }

 private:
  int left_;
  platform::ScopedEnv scope_;
};

enum class Mode { kNoLog, kLogged, kTransactions };

std::string RowName(long i) { return "row" + std::to_string(i); }

// Appends rows 1, 2, ... (NAME "row<i>", NUM i), committing every 7 rows
// in kTransactions mode, until the killing write.
void AppendUntilKilled(const std::string& folder, Mode mode, int killAt) {
  TestCode4 c4;
  c4.compatibility = k4dialectFox;
  if (mode != Mode::kNoLog) code4logCreate(&c4, (folder + "/c4.log").c_str(), "PUBLIC");
  FieldList fields;
  fields.Add("NAME", 'C', 10).Add("NUM", 'N', 8).Add("NOTE", 'M');
  TagList tags;
  tags.Add("NUM", "STR(NUM,8)");
  const std::string path = folder + "/rows.dbf";
  DATA4* data = d4create(&c4, path.c_str(), fields.get(), tags.get());
  // Opened again, so that its changes are logged.
  if (data == nullptr || d4close(data) != 0 || (data = d4open(&c4, path.c_str())) == nullptr) std::_Exit(2);
  if (data->logged != (mode == Mode::kNoLog ? 0 : 1)) std::_Exit(2);
  KillingEnv killer(killAt);
  for (long i = 1; i < 100000; i++) {
    if (mode == Mode::kTransactions && i % 7 == 1) code4tranStart(&c4);
    d4appendStart(data, 0);
    d4blank(data);
    f4assign(d4field(data, "NAME"), RowName(i).c_str());
    f4assignLong(d4field(data, "NUM"), i);
    f4memoAssign(d4field(data, "NOTE"), (RowName(i) + " note").c_str());
    d4append(data);
    if (mode == Mode::kTransactions && i % 7 == 0) code4tranCommit(&c4);
    if (i % 10 == 0) d4update(data);
  }
  std::_Exit(3);
}

TEST(Crash, ReopeningAfterAKillInTheMiddleOfAppends) {
  struct Case {
    Mode mode;
    int killAt;
  };
  std::vector<Case> cases;
  for (Mode mode : {Mode::kNoLog, Mode::kLogged, Mode::kTransactions}) {
    for (int killAt : {3, 10, 41, 97, 200, 733}) cases.push_back({mode, killAt});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(int(c.mode)) + ", killed in write " + std::to_string(c.killAt));
    TempDir dir;
    EXPECT_EXIT(AppendUntilKilled(dir.path(), c.mode, c.killAt), ::testing::KilledBySignal(SIGKILL), "");

    TestCode4 c4;
    c4.logOpen = 0;
    if (c.mode != Mode::kNoLog) {
      // The log did not end cleanly: it is refused with a clear report.
      int rc = code4logOpen(&c4, dir.File("c4.log").c_str(), nullptr);
      EXPECT_EQ(rc, -1);
      ASSERT_NE(c4.Last(), nullptr);
      EXPECT_EQ(c4.Last()->location, E4_TRAN_INVALID_FILE);
      error4set(&c4, 0);
      c4.reports.clear();
    }
    DATA4* data = d4open(&c4, dir.File("rows").c_str());
    if (data == nullptr) {
      // A table that cannot be opened says why.
      EXPECT_LT(c4.errorCode, 0);
      EXPECT_FALSE(c4.reports.empty());
      continue;
    }
    const long count = d4recCount(data);
    ASSERT_GE(count, 0);
    for (long r = 1; r <= count; r++) {
      int rc = d4go(data, r);
      if (rc != 0) {
        EXPECT_LT(rc, 0);
        EXPECT_FALSE(c4.reports.empty());
        break;
      }
      EXPECT_EQ(xbasetest::Trimmed(d4field(data, "NAME")), RowName(r));
      EXPECT_EQ(f4long(d4field(data, "NUM")), r);
      FIELD4* note = d4field(data, "NOTE");
      if (f4memoRead(note) == 0) {
        EXPECT_EQ(std::string(f4memoPtr(note), f4memoLen(note)), RowName(r) + " note");
      }
      error4set(&c4, 0);
    }
    // Walking the tag ends or reports; it never runs wild.
    d4tagSelect(data, d4tag(data, "NUM"));
    int rc = d4top(data);
    for (long steps = 0; rc == 0 && steps <= count + 1; steps++) rc = d4skip(data, 1);
    EXPECT_TRUE(rc == r4eof || rc < 0) << rc;
    error4set(&c4, 0);
    d4close(data);
  }
}

}  // namespace
