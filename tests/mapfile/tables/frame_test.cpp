// The interface frame: counted initialisation and its refusals, the shared
// buffers, the handle slots and their checks, the trap, the switches, and the
// exported names of liblayerio.so itself.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/foundation/path.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/table.h"
#include "platform/library.h"

namespace {

using layerio::Interface;
using layerio::TableObject;

// Tables that only record how they were released.
// Entries that read the table see an empty one.
struct FakeTable {
  layerio::TableObject object{};
  int id = 0;
  bool commitFails = false;
  bool traps = false;
};
std::vector<std::pair<int, uint16_t>> gClosed;

int16_t CloseFake(TableObject* table, uint16_t commit) {
  auto* fake = reinterpret_cast<FakeTable*>(table);
  if (fake->traps) layerio::ErrorFatal("closing table %d", fake->id);
  if (commit && fake->commitFails) return 0;
  gClosed.emplace_back(fake->id, commit);
  return 1;
}

// Brings the library back to "never initialised" between tests.
void ShutDownFully() {
  while (layerio::Initialised()) PXShutdown();
  PXInitialize(PX_INTERFACE_NUMBER);  // clears a refusal left by a test
  PXShutdown();
  if (PXToggleFatalErrors(0)) PXToggleFatalErrors(1);
}

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { ShutDownFully(); }
  void TearDown() override { ShutDownFully(); }

  // Registers table `id` (1..kTables) as the slots of the open worker do.
  PXTableHandle Register(int id, uint32_t mode = layerio::kModeReadWrite,
                         uint32_t kind = layerio::kSlotKindNative) {
    FakeTable& table = tables_[id];
    table.id = id;
    return layerio::SlotRegister(layerio::FileHandle(1000 + id),
                                 reinterpret_cast<TableObject*>(&table), mode, kind, 0, CloseFake);
  }

  static constexpr int kTables = 16;
  FakeTable tables_[kTables + 1];
};

// ----- initialisation counts and refusals -----

TEST_F(FrameTest, InitialisationCountsAndRefusals) {
  enum Op { kInit, kShutdown };
  struct Step {
    const char* what;
    Op op;
    uint32_t number;
    uint16_t result;
    int32_t lastError;  // PXGetLastError after the step
    uint32_t references;
  };
  const Step steps[] = {
      {"wrong number before any", kInit, 6509, 0, 1930, 0},
      {"right number", kInit, 6510, 1, 0, 1},
      {"second reference", kInit, 6510, 1, 0, 2},
      {"wrong number while initialised", kInit, 6511, 0, 0, 2},
      {"first shutdown keeps the library", kShutdown, 0, 1, 0, 1},
      // The last PXInitialize was refused, and that is what is told.
      {"last shutdown", kShutdown, 0, 1, 1930, 0},
      {"shutdown of nothing", kShutdown, 0, 1, 1930, 0},
      {"accepted and ended", kInit, 6510, 1, 0, 1},
      {"not initialised", kShutdown, 0, 1, 1929, 0},
      {"refused again", kInit, 0, 0, 1930, 0},
      {"a shutdown keeps the refusal", kShutdown, 0, 1, 1930, 0},
      {"accepted again", kInit, 6510, 1, 0, 1},
      {"and ended", kShutdown, 0, 1, 1929, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    uint16_t result = step.op == kInit ? PXInitialize(step.number) : PXShutdown();
    EXPECT_EQ(result, step.result);
    EXPECT_EQ(PXGetLastError(), step.lastError);
    EXPECT_EQ(Interface().references, step.references);
  }
}

TEST_F(FrameTest, BuffersLiveFromFirstInitialisationToLastShutdown) {
  EXPECT_EQ(layerio::InterfaceScratch(), nullptr);
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  uint8_t* scratch = layerio::InterfaceScratch();
  char* rowText = layerio::RowTextBuffer();
  ASSERT_NE(scratch, nullptr);
  ASSERT_NE(rowText, nullptr);
  // Both are used to their last byte by the conversions and the row text.
  scratch[layerio::kScratchSize - 1] = 1;
  rowText[layerio::kRowTextSize - 1] = 1;
  EXPECT_EQ(Interface().slotCount, layerio::kSlotsInitial);
  EXPECT_NE(layerio::State().errors, nullptr);

  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);  // nothing new is made
  EXPECT_EQ(layerio::InterfaceScratch(), scratch);
  EXPECT_EQ(layerio::RowTextBuffer(), rowText);
  PXShutdown();
  EXPECT_EQ(layerio::InterfaceScratch(), scratch);

  PXShutdown();
  EXPECT_EQ(layerio::InterfaceScratch(), nullptr);
  EXPECT_EQ(layerio::RowTextBuffer(), nullptr);
  EXPECT_EQ(Interface().slots, nullptr);
  EXPECT_EQ(layerio::State().errors, nullptr);
}

TEST_F(FrameTest, ProgramDirectoryIsTakenAtInitialisation) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  uint32_t dir = layerio::ProgramDir();
  EXPECT_NE(dir, 0u);
  PXShutdown();
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  EXPECT_EQ(layerio::ProgramDir(), dir);  // once per process
}

// Every guarded entry before PXInitialize: its failure value, nothing
// recorded, no output touched.
TEST_F(FrameTest, GuardedEntriesBeforeInitialisationFailSilently) {
  char text[64];
  std::memset(text, 'x', sizeof text);
  uint32_t n = 77;
  PXQueryInfo* info = nullptr;
  const struct {
    const char* name;
    std::function<int64_t()> call;
    int64_t failure;
  } cases[] = {
      {"PXGetCharsetName", [&] { return PXGetCharsetName(-1, text); }, -1},
      {"PXOpenTable", [] { return PXOpenTable("a.tab", 1); }, 0},
      {"PXCreateTable", [] { return PXCreateTable("a.tab", nullptr, 0, nullptr, 0); }, 0},
      {"PXRegisterTable", [] { return PXRegisterTable("a.tab", "a.dbf", 1); }, 0},
      {"PXCloseTable", [] { return PXCloseTable(1); }, 0},
      {"PXGetRowCount", [&] { return PXGetRowCount(1, &n); }, 0},
      {"PXFetchRow", [&] { return PXFetchRow(1, 1, text, nullptr); }, 0},
      {"PXInsertRow", [&] { return PXInsertRow(1, "1", nullptr, &n); }, 0},
      {"PXSetCharset", [] { return PXSetCharset(10); }, 0},
      {"PXGetQueryInfo", [&] { return PXGetQueryInfo("q.tab", &info); }, 0},
      {"PXParseCoordSys", [] { return PXParseCoordSys("CoordSys Earth", nullptr); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), c.failure);
    EXPECT_EQ(PXGetLastError(), PX_ERROR_NOT_INITIALISED);
  }
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(n, 77u);
}

// ----- handle slots -----

TEST_F(FrameTest, EleventhTableGrowsTheSlotsToTwenty) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  for (int id = 1; id <= 10; ++id) ASSERT_EQ(Register(id), id);
  EXPECT_EQ(Interface().slotCount, 10u);
  EXPECT_EQ(Register(11), 11);
  EXPECT_EQ(Interface().slotCount, 20u);
  EXPECT_EQ(layerio::SlotsInUse(), 11u);

  // The same definition file cannot take a second slot.
  layerio::ErrorClear();
  EXPECT_EQ(Register(3), 0);
  EXPECT_EQ(layerio::ErrorLastCode(), PX_ERROR_ALREADY_OPEN);

  // A closed handle is refused, and its slot is the next one given.
  gClosed.clear();
  EXPECT_EQ(PXCloseTable(3), 1);
  EXPECT_EQ(gClosed, (std::vector<std::pair<int, uint16_t>>{{3, 1}}));
  uint32_t rows = 0;
  EXPECT_EQ(PXGetRowCount(3, &rows), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXCloseTable(3), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(Register(12), 3);
}

TEST_F(FrameTest, HandleChecksPushTheirCodesInOrder) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  PXTableHandle hNative = Register(1);
  PXTableHandle hReadOnly = Register(2, layerio::kModeReadOnly);
  PXTableHandle hForeign = Register(3, layerio::kModeReadWrite, 2);
  PXTableHandle hBoth = Register(4, layerio::kModeReadOnly, 2);
  uint32_t row = 0;
  auto insert = [&](PXTableHandle h) { return PXInsertRow(h, "1", nullptr, &row); };
  auto fetch = [&](PXTableHandle h) { return PXFetchRow(h, 1, nullptr, nullptr); };
  const struct {
    const char* what;
    std::function<uint16_t()> call;
    std::vector<int> codes;  // all pushed, the first is PXGetLastError's
  } cases[] = {
      {"handle 0", [&] { return insert(0); }, {644}},
      {"negative handle", [&] { return fetch(-1); }, {644}},
      {"beyond the slots", [&] { return fetch(11); }, {644}},
      {"a free slot", [&] { return fetch(5); }, {644}},
      {"insert on a read-only handle", [&] { return insert(hReadOnly); }, {891}},
      // The stand-in tables hold no rows: entries that pass the checks are
      // stopped by their own argument checks before they reach a table.
      {"a read-only handle passes the native check",
       [&] { return PXGetFieldCount(hReadOnly, nullptr); }, {644}},
      {"fetch on a foreign slot", [&] { return fetch(hForeign); }, {683}},
      {"insert on a foreign read-only slot", [&] { return insert(hBoth); }, {891, 683}},
      {"metadata needs no native slot", [&] { return PXSaveMetadata(hForeign); }, {1927}},
      {"a native read-write handle passes the write check",
       [&] { return PXSetApiCoordSys(hNative, nullptr); }, {644}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(PXGetLastError(), c.codes.front());
    EXPECT_EQ(layerio::ErrorCount(), c.codes.size());
    for (int code : c.codes) EXPECT_TRUE(layerio::ErrorHasCode(uint16_t(code))) << code;
  }
}

TEST_F(FrameTest, LastShutdownClosesEveryTableWithCommitInSlotOrder) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  for (int id = 1; id <= 12; ++id) ASSERT_EQ(Register(id), id);
  ASSERT_EQ(PXCloseTable(2), 1);
  gClosed.clear();
  EXPECT_EQ(PXShutdown(), 1);
  EXPECT_TRUE(gClosed.empty());  // another reference is still held
  EXPECT_EQ(PXShutdown(), 1);
  std::vector<std::pair<int, uint16_t>> expected;
  for (int id = 1; id <= 12; ++id)
    if (id != 2) expected.emplace_back(id, 1);
  EXPECT_EQ(gClosed, expected);
  EXPECT_EQ(Interface().slots, nullptr);
}

// A table whose changes cannot be written keeps its handle on PXCloseTable;
// the last shutdown still releases it and says that something was lost.
TEST_F(FrameTest, UnwritableTableAtShutdownIsReleasedAndReported) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  tables_[2].commitFails = true;
  Register(1);
  PXTableHandle hBad = Register(2);
  Register(3);
  gClosed.clear();
  EXPECT_EQ(PXCloseTable(hBad), 0);
  EXPECT_NE(layerio::SlotFind(hBad), nullptr);
  EXPECT_EQ(PXShutdown(), 0);
  EXPECT_EQ(gClosed, (std::vector<std::pair<int, uint16_t>>{{1, 1}, {3, 1}, {2, 0}}));
  EXPECT_FALSE(layerio::Initialised());
}

// ----- the trap -----

TEST_F(FrameTest, TrappedFatalErrorEndsTheEntryWith479) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  tables_[1].traps = true;
  PXTableHandle h = Register(1);
  Register(2);

  // Trapping off: the fatal routine returns and the close goes on.
  ASSERT_EQ(PXToggleFatalErrors(0), 0);
  gClosed.clear();
  EXPECT_EQ(PXCloseTable(h), 1);
  EXPECT_EQ(gClosed.size(), 1u);
  h = Register(1);

  ASSERT_EQ(PXToggleFatalErrors(1), 1);
  gClosed.clear();
  EXPECT_EQ(PXCloseTable(h), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_INTERNAL);
  EXPECT_STREQ(layerio::FatalText(), "closing table 1");
  // The slot table is as it was: the handle still names its table.
  EXPECT_NE(layerio::SlotFind(h), nullptr);
  EXPECT_EQ(layerio::SlotsInUse(), 2u);
  EXPECT_EQ(layerio::State().guardDepth, 0);
  // The next entry starts clean.
  EXPECT_EQ(PXSetRawText(0), 0);
  char name[40];
  EXPECT_EQ(PXGetCharsetName(-1, name), 10);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_INTERNAL);  // unguarded entries keep the record

  // At the last shutdown a trap still frees everything.
  EXPECT_EQ(PXShutdown(), 0);
  EXPECT_FALSE(layerio::Initialised());
  EXPECT_EQ(Interface().slots, nullptr);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_NOT_INITIALISED);
}

// What escapes a body: a trap from a nested frame reaches the outermost one;
// an exception is caught there too.
TEST_F(FrameTest, NothingEscapesTheOutermostFrame) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  ASSERT_EQ(PXToggleFatalErrors(1), 1);
  bool outerWentOn = false;
  auto inner = [] {
    return layerio::InitCall(uint16_t{0}, []() -> uint16_t {
      layerio::ErrorFatal("inner");
      return 1;
    });
  };
  EXPECT_EQ(layerio::InitCall(uint16_t{0}, [&]() -> uint16_t {
              inner();
              outerWentOn = true;
              return 1;
            }),
            0);
  EXPECT_FALSE(outerWentOn);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_INTERNAL);

  const struct {
    const char* what;
    std::function<void()> body;
    int32_t code;
  } cases[] = {
      {"allocation", [] { throw std::bad_alloc(); }, PX_ERROR_OUT_OF_MEMORY},
      {"other exception", [] { throw std::runtime_error("x"); }, PX_ERROR_INTERNAL},
      {"a number", [] { throw 5; }, PX_ERROR_INTERNAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(layerio::InitCall(int32_t{-7}, [&]() -> int32_t {
                c.body();
                return 1;
              }),
              -7);
    EXPECT_EQ(PXGetLastError(), c.code);
  }
}

// ----- charsets and switches -----

TEST_F(FrameTest, CharsetNamesAndChanges) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  char name[40];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(PXGetCharsetName(-1, name), 10);
  EXPECT_STREQ(name, layerio::CharsetName(10));
  EXPECT_EQ(name[39], '\0');
  EXPECT_EQ(PXGetCharsetName(57, name), 10);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(PXGetCharsetName(34, nullptr), 10);
  uint32_t stamp1 = layerio::NormStamp(1);

  PXTableHandle h = Register(1);
  const struct {
    const char* what;
    int32_t code;
    uint16_t result;
    int32_t lastError;
    int32_t current;
    bool closeFirst;
  } cases[] = {
      {"a table is open", 1, 0, 1924, 10, false},
      {"-1 is no code", -1, 0, 1283, 10, true},
      {"57 is no code", 57, 0, 1283, 10, false},
      {"ISO8859_1", 1, 1, 0, 1, false},
      {"back to WindowsLatin1", 10, 1, 0, 10, false},
      {"CodePage437", 34, 1, 0, 34, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.closeFirst) {
      ASSERT_EQ(PXCloseTable(h), 1);
    }
    EXPECT_EQ(PXSetCharset(c.code), c.result);
    EXPECT_EQ(PXGetLastError(), c.lastError);
    EXPECT_EQ(PXGetCharsetName(-1, name), c.current);
    EXPECT_STREQ(name, layerio::CharsetName(c.current));
    if (c.current == 1 || c.current == 10) {
      EXPECT_NE(layerio::NormTable(2), nullptr);
    } else {
      EXPECT_EQ(layerio::NormTable(2), nullptr);
    }
  }
  ASSERT_EQ(PXSetCharset(10), 1);
  EXPECT_EQ(layerio::NormStamp(1), stamp1);  // the tables are those of the charset again
}

TEST_F(FrameTest, SwitchesWithoutGuard) {
  // These run before initialisation too.
  EXPECT_EQ(PXGetDatumMode(), 1);
  EXPECT_EQ(PXSetDatumMode(0), 0);
  EXPECT_EQ(PXGetDatumMode(), 0);
  EXPECT_EQ(layerio::DatumShiftMethod(), 0);
  EXPECT_EQ(PXSetDatumMode(1), 1);

  EXPECT_EQ(PXSetRawText(1), 1);
  EXPECT_EQ(layerio::RawTextFlag(), 1);
  EXPECT_EQ(PXSetRawText(0), 0);

  EXPECT_EQ(PXToggleFatalErrors(0), 0);
  EXPECT_EQ(PXToggleFatalErrors(1), 1);
  EXPECT_EQ(PXToggleFatalErrors(0), 1);
  EXPECT_EQ(PXToggleFatalErrors(7), 0);

  uint32_t major = 0, patch = 9;
  EXPECT_EQ(PXGetLibraryVersion(&major, nullptr, &patch), 1);
  EXPECT_EQ(major, 8u);
  EXPECT_EQ(patch, 0u);
}

// Entries given a bad handle or no arguments fail their checks first.
TEST_F(FrameTest, EntriesRefuseBadHandlesAndMissingArguments) {
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  uint32_t row = 0;
  EXPECT_EQ(PXInsertRow(1, "1", nullptr, &row), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXCreateTable(nullptr, nullptr, 0, nullptr, 5), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
}

// ----- the shared library itself -----

// A client program sees liblayerio.so with its own state: the 52 names and
// the frame's answers, with nothing of the library's inside visible.
TEST(LayerioLibrary, ExportsEveryEntryByName) {
  platform::Library lib(GSB_LAYERIO_LIBRARY);
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  const char* names[] = {
      "PXGetCharsetName",   "PXCloseTable",       "PXFindDatum",        "PXCreateIndex",
      "PXCreateMap",        "PXCreateTable",      "PXDeleteMetadataKey", "PXDropIndex",
      "PXDropMap",          "PXDeleteTable",      "PXToggleFatalErrors", "PXEnumMetadata",
      "PXFetchRow",         "PXFreeQueryInfo",    "PXGetFieldInfo",     "PXGetTableCoordSys",
      "PXCoordSysToString", "PXGetDatum",         "PXSetDefaultBounds", "PXGetEllipsoid",
      "PXGetLastError",     "PXGetIndexList",     "PXGetMetadataValue", "PXGetLibraryVersion",
      "PXGetFieldCount",    "PXGetObjectCounts",  "PXGetRowCount",      "PXGetTableVersion",
      "PXGetTablePath",     "PXHasMemoFields",    "PXGetFieldIndexId",  "PXFindIndexed",
      "PXInitialize",       "PXInsertRow",        "PXOpenTable",        "PXGetQueryInfo",
      "PXRegisterTable",    "PXRenameTable",      "PXSetCharset",       "PXSetRawText",
      "PXSetMetadataValue", "PXShutdown",         "PXUpdateRow",        "PXSetApiCoordSys",
      "PXCoordSysToClause", "PXSaveMetadata",     "PXConvertObject",    "PXDistance",
      "PXObjectsIntersect", "PXParseCoordSys",    "PXGetDatumMode",     "PXSetDatumMode"};
  static_assert(sizeof names / sizeof names[0] == 52);
  for (const char* name : names) EXPECT_NE(lib.Symbol(name), nullptr) << name;
  EXPECT_EQ(lib.Symbol("_ZN7layerio9InterfaceEv"), nullptr);
  EXPECT_EQ(lib.Symbol("_ZN7layerio10ErrorFatalEPKcz"), nullptr);

  auto initialize = reinterpret_cast<decltype(&PXInitialize)>(lib.Symbol("PXInitialize"));
  auto shutdown = reinterpret_cast<decltype(&PXShutdown)>(lib.Symbol("PXShutdown"));
  auto lastError = reinterpret_cast<decltype(&PXGetLastError)>(lib.Symbol("PXGetLastError"));
  auto open = reinterpret_cast<decltype(&PXOpenTable)>(lib.Symbol("PXOpenTable"));
  auto rows = reinterpret_cast<decltype(&PXGetRowCount)>(lib.Symbol("PXGetRowCount"));
  ASSERT_TRUE(initialize && shutdown && lastError && open && rows);
  EXPECT_EQ(lastError(), PX_ERROR_NOT_INITIALISED);
  EXPECT_EQ(initialize(6509), 0);
  EXPECT_EQ(lastError(), PX_ERROR_REFUSED);
  ASSERT_EQ(initialize(PX_INTERFACE_NUMBER), 1);
  EXPECT_FALSE(layerio::Initialised());  // the program's copy is another one
  EXPECT_EQ(open("no-such-roads.tab", PX_OPEN_READ), 0);
  EXPECT_NE(lastError(), 0);
  uint32_t n = 0;
  EXPECT_EQ(rows(0, &n), 0);
  EXPECT_EQ(lastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(shutdown(), 1);
  EXPECT_EQ(lastError(), PX_ERROR_NOT_INITIALISED);
}

}  // namespace
