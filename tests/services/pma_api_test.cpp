// Trade-area jobs through the C interface: handles, the store and customer
// lists, the report tables, the progress callback and the ends of a job.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "boundary/mainintn.h"
#include "services/pma_api.h"
#include "tests/services/services_fixture.h"

namespace {

using svctest::Context;

class Job {
 public:
  explicit Job(const Context& c) { result_ = pipPmaInit(c.handle(), &handle_); }
  ~Job() {
    if (handle_) pipPmaTerm(handle_, 0);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  uint32_t handle() const { return handle_; }
  int32_t result() const { return result_; }
  // The object behind the handle, for reading its lists.
  CpmaInterface& object() const {
    return *static_cast<CpmaInterface*>(HandleTable::Global().Lookup(handle_, kHandleTradeArea));
  }
  int32_t Term(int32_t keep) {
    const int32_t r = pipPmaTerm(handle_, keep);
    handle_ = 0;
    return r;
  }

 private:
  uint32_t handle_ = 0;
  int32_t result_ = 0;
};

const std::string kLong259(259, 'n');

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PmaJob, HandlesThatNameNoJobAreRefused) {
  Context c;
  uint32_t radius = 0;
  ASSERT_EQ(pipRadInit(c.handle(), 0, &radius), 1);
  const std::vector<std::pair<const char*, std::function<int32_t(uint32_t)>>> calls = {
      {"AddStore", [](uint32_t h) { return pipPmaAddStore(h, 0, 0, "s"); }},
      {"AddCustomer", [](uint32_t h) { return pipPmaAddCustomer(h, 0, 0, "s", 1.0); }},
      {"ClearStores", [](uint32_t h) { return pipPmaClearStores(h); }},
      {"ClearCustomers", [](uint32_t h) { return pipPmaClearCustomers(h); }},
      {"SetOutputFiles", [](uint32_t h) { return pipPmaSetOutputFiles(h, 0, "", "", ""); }},
      {"SetProgress", [](uint32_t h) { return pipPmaSetProgressFunction(h, nullptr); }},
      {"Rings", [](uint32_t h) { return pipPmaGenerateRingPolygons(h, 8, 0, 1, 1, 0, 0); }},
      {"Nonoverlapping",
       [](uint32_t h) { return pipPmaGenerateNonoverlappingRingPolygons(h, 8, 0, 1, 1, 0, 0); }},
      {"Hulls",
       [](uint32_t h) { return pipPmaGenerateConvexHullPolygons(h, 1, 0, 0, 1, 0.5, 0, 0); }},
      {"Term", [](uint32_t h) { return pipPmaTerm(h, 0); }},
  };
  for (const auto& [name, call] : calls)
    for (uint32_t h : {0u, 4000u, c.handle(), radius}) {
      SCOPED_TRACE(std::string(name) + " on " + std::to_string(h));
      EXPECT_EQ(call(h), -1);
    }
  // The term calls left the other families' handles alive.
  EXPECT_NE(HandleTable::Global().Lookup(c.handle(), kHandleContext), nullptr);
  EXPECT_EQ(pipRadTerm(radius), 1);

  uint32_t job = 0;
  EXPECT_EQ(pipPmaInit(c.handle(), nullptr), -1);
  EXPECT_EQ(pipPmaInit(4000, &job), -1);
  EXPECT_EQ(job, 0u);
  // The bodies take a null job without harm.
  EXPECT_EQ(pipPmaInitIntern(nullptr, nullptr), -1);
  EXPECT_EQ(pipPmaTermIntern(nullptr, 1), 1);
  EXPECT_EQ(pipPmaAddStoreIntern(nullptr, 0, 0, "s"), -1);
  EXPECT_EQ(pipPmaAddCustomerIntern(nullptr, 0, 0, "s", 1), -1);
  EXPECT_EQ(pipPmaClearStoresIntern(nullptr), 1);
  EXPECT_EQ(pipPmaClearCustomersIntern(nullptr), 1);
  EXPECT_EQ(pipPmaSetProgressFunctionIntern(nullptr, nullptr), 1);
}

TEST(PmaJob, FullHandleTableDiscardsTheNewJob) {
  Context c;
  std::vector<uint32_t> held;
  while (HandleTable::Global().InUseCount() < 1599) held.push_back(uint32_t(pipInit(0, nullptr)));
  uint32_t job = 0;
  EXPECT_EQ(pipPmaInit(c.handle(), &job), -1);
  EXPECT_EQ(job, 0u);
  EXPECT_EQ(c.Code(), 103);
  EXPECT_EQ(c.Detail(), "Too many handles in use!\n");
  for (uint32_t h : held) pipTerm(h);
}

TEST(PmaJob, NewJobIsEmpty) {
  Context c;
  Job job(c);
  ASSERT_EQ(job.result(), 1);
  const CpmaInterface& j = job.object();
  EXPECT_TRUE(j.Valid());
  EXPECT_EQ(j.Stores().Count(), 0);
  EXPECT_EQ(j.ListCapacity(), 256);
  EXPECT_EQ(j.ListsInUse(), 0);
  EXPECT_EQ(j.Progress(), nullptr);
  for (int32_t level : {kPmaPrimary, kPmaSecondary, kPmaTertiary}) {
    EXPECT_EQ(j.Output(level).builder, nullptr);
    EXPECT_EQ(j.Output(level).objects, 0u);
    EXPECT_STREQ(j.Output(level).name, "");
  }
}

struct StoreCase {
  const char* what;
  const char* name;  // null passes a null name
  int32_t result;
  int32_t code;  // the context's code after a refusal
  const char* detail;
};

TEST(PmaJob, StoreNames) {
  Context c;
  Job job(c);
  ASSERT_EQ(job.result(), 1);
  const std::string long1 = kLong259 + "1", long2 = kLong259 + "2";
  const StoreCase cases[] = {
      {"first", "first", 1, 0, ""},
      {"repeat", "first", -1, 104, "Cannot add same store to store list twice."},
      {"case differs", "First", 1, 0, ""},
      {"empty", "", 1, 0, ""},
      {"empty again", "", -1, 104, "Cannot add same store to store list twice."},
      {"null", nullptr, -1, 104, "Unexpected NULL pointer passed."},
      {"long, cut to 259", long1.c_str(), 1, 0, ""},
      {"equal over 259", long2.c_str(), -1, 104, "Cannot add same store to store list twice."},
      {"the cut name", kLong259.c_str(), -1, 104, "Cannot add same store to store list twice."},
  };
  int32_t x = 0;
  for (const StoreCase& k : cases) {
    SCOPED_TRACE(k.what);
    ++x;
    EXPECT_EQ(pipPmaAddStore(job.handle(), x, -x, k.name), k.result);
    if (k.result != 1) {
      EXPECT_EQ(c.Code(), k.code);
      EXPECT_EQ(c.Detail(), k.detail);
    }
  }
  const CpmaGlobalStoreList& stores = job.object().Stores();
  ASSERT_EQ(stores.Count(), 4);
  const std::vector<std::string> names = {"first", "First", "", kLong259};
  const std::vector<int32_t> xs = {1, 3, 4, 7};
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(stores.Name(i), names[size_t(i)]);
    EXPECT_EQ(stores[i].number, i);
    EXPECT_EQ(stores[i].x, xs[size_t(i)]);
    EXPECT_EQ(stores[i].y, -xs[size_t(i)]);
  }
  EXPECT_EQ(job.object().ListsInUse(), 4);
}

struct CustomerCase {
  const char* what;
  const char* store;
  double value;
  int32_t result;
  const char* detail;
};

TEST(PmaJob, CustomersNameTheirStoreExactly) {
  Context c;
  Job job(c);
  ASSERT_EQ(job.result(), 1);
  const std::string long1 = kLong259 + "1";
  ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "A"), 1);
  ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, long1.c_str()), 1);
  const CustomerCase cases[] = {
      {"known", "A", 2.5, 1, ""},
      {"again", "A", 4.0, 1, ""},
      {"unknown", "B", 1, -1, "Cannot add customer: no such store."},
      {"other case", "a", 1, -1, "Cannot add customer: no such store."},
      {"null", nullptr, 1, -1, "Cannot add customer: no such store."},
      {"the long name as given", long1.c_str(), 1, -1, "Cannot add customer: no such store."},
      {"the long name as stored", kLong259.c_str(), 7, 1, ""},
  };
  for (const CustomerCase& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(pipPmaAddCustomer(job.handle(), 10, 20, k.store, k.value), k.result);
    if (k.result != 1) {
      EXPECT_EQ(c.Code(), 100);
      EXPECT_EQ(c.Detail(), k.detail);
    }
  }
  const CpmaCustomerList* a = job.object().Customers(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Count(), 2);
  EXPECT_EQ(a->TotalValue(), 6.5);
  EXPECT_EQ((*a)[1].value, 4.0);
  EXPECT_EQ(job.object().Customers(1)->Count(), 1);
  EXPECT_EQ(job.object().Customers(1)->TotalValue(), 7.0);
  EXPECT_EQ(job.object().Customers(-1), nullptr);
  EXPECT_EQ(job.object().Customers(256), nullptr);
}

// The lists double at the 257th store and the 513th, each time with every
// customer of the stores before.
TEST(PmaJob, ListsGrowWithTheStoresAndKeepTheirCustomers) {
  Context c;
  Job job(c);
  ASSERT_EQ(job.result(), 1);
  const int32_t kStores = 600;
  for (int32_t s = 0; s < kStores; ++s) {
    const std::string name = "S" + std::to_string(s);
    ASSERT_EQ(pipPmaAddStore(job.handle(), s, s, name.c_str()), 1);
    for (int32_t k = 0; k <= s % 3; ++k)
      ASSERT_EQ(pipPmaAddCustomer(job.handle(), s * 10 + k, -k, name.c_str(), 0.5 * k), 1);
    const int32_t capacity = job.object().ListCapacity();
    if (s == 255 || s == 256 || s == 512) {
      EXPECT_EQ(capacity, s == 255 ? 256 : s == 256 ? 512 : 1024) << s;
    }
  }
  for (int32_t s = 0; s < kStores; ++s) {
    const CpmaCustomerList& list = *job.object().Customers(s);
    ASSERT_EQ(list.Count(), s % 3 + 1) << s;
    for (int32_t k = 0; k < list.Count(); ++k) {
      EXPECT_EQ(list[k].x, s * 10 + k);
      EXPECT_EQ(list[k].y, -k);
      EXPECT_EQ(list[k].value, 0.5 * k);
    }
    EXPECT_EQ(list.TotalValue(), 0.5 * (s % 3) * (s % 3 + 1) / 2);
  }
  // A store's own list keeps doubling.
  for (int32_t k = 0; k < 2500; ++k)
    ASSERT_EQ(pipPmaAddCustomer(job.handle(), k, k, "S0", 1.0), 1);
  EXPECT_EQ(job.object().Customers(0)->Count(), 2501);
  EXPECT_EQ(job.object().Customers(0)->Capacity(), 4096);
}

TEST(PmaJob, ClearingStoresKeepsTheCustomerLists) {
  Context c;
  Job job(c);
  ASSERT_EQ(job.result(), 1);
  ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "A"), 1);
  ASSERT_EQ(pipPmaAddStore(job.handle(), 5, 5, "B"), 1);
  ASSERT_EQ(pipPmaAddCustomer(job.handle(), 1, 1, "A", 3), 1);
  ASSERT_EQ(pipPmaAddCustomer(job.handle(), 6, 6, "B", 4), 1);

  EXPECT_EQ(pipPmaClearStores(job.handle()), 1);
  EXPECT_EQ(job.object().Stores().Count(), 0);
  EXPECT_EQ(pipPmaAddCustomer(job.handle(), 1, 1, "A", 3), -1);
  // A store added now takes over the list of its position; the old name can
  // come back.
  ASSERT_EQ(pipPmaAddStore(job.handle(), 9, 9, "C"), 1);
  ASSERT_EQ(pipPmaAddStore(job.handle(), 8, 8, "A"), 1);
  EXPECT_EQ(job.object().Customers(0)->TotalValue(), 3);
  EXPECT_EQ(job.object().Customers(1)->TotalValue(), 4);
  ASSERT_EQ(pipPmaAddCustomer(job.handle(), 2, 2, "C", 1), 1);
  EXPECT_EQ(job.object().Customers(0)->Count(), 2);

  // Cycles of clearing and adding the same stores reuse the lists.
  for (int cycle = 0; cycle < 300; ++cycle) {
    ASSERT_EQ(pipPmaClearStores(job.handle()), 1);
    ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "A"), 1);
    ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "B"), 1);
  }
  EXPECT_EQ(job.object().ListsInUse(), 2);
  EXPECT_EQ(job.object().ListCapacity(), 256);

  EXPECT_EQ(pipPmaClearCustomers(job.handle()), 1);
  for (int32_t s : {0, 1}) {
    EXPECT_EQ(job.object().Customers(s)->Count(), 0);
    EXPECT_EQ(job.object().Customers(s)->Capacity(), 0);
    EXPECT_EQ(job.object().Customers(s)->TotalValue(), 0);
  }
  EXPECT_EQ(job.object().Stores().Count(), 2);
}

struct ReportCase {
  int32_t result;
  int32_t code;
  const char* detail;
};

TEST(PmaJob, ReportTables) {
  Context c;
  Job job(c);
  ASSERT_EQ(job.result(), 1);
  const ReportCase operations[] = {
      {-11, 100, "Pma polygon generation stopped before completion by user."},
      {-10, 100, "Not enough points for a polygon."},
      {-9, 100, "Error in polygon clipping."},
      {-8, 100, "Percentage value not beteen 0.0 and 1.0."},
      {-7, 100, "Error creating iterator object."},
      {-6, 104, "Allocation of new memory failed."},
      {-5, 100, "Error loading customer list."},
      {-4, 100, "Error loading store list."},
      {-3, 100, "Polygon radius too small."},
      {-2, 100, "Too many segments in polygon."},
      {-1, 100, "Too few segments in polygon."},
      {0, 101, "Unknown error in polygon operation."},
      {1, 101, "Unknown error in polygon operation."},
      {-12, 101, "Unknown error in polygon operation."},
  };
  for (const ReportCase& k : operations) {
    SCOPED_TRACE(k.result);
    EXPECT_EQ(PmaReportOperation(job.object(), k.result), -1);
    EXPECT_EQ(c.Code(), k.code);
    EXPECT_EQ(c.Detail(), k.detail);
  }
  const ReportCase lists[] = {
      {-3, 104, "Cannot add same store to store list twice."},
      {-2, 104, "Unexpected NULL pointer passed."},
      {-1, 104, "Cannot allocate memory."},
      {0, 101, "Unknown error in point list operation."},
      {-4, 101, "Unknown error in point list operation."},
  };
  for (const ReportCase& k : lists) {
    SCOPED_TRACE(k.result);
    EXPECT_EQ(PmaReportPointList(job.object(), k.result), -1);
    EXPECT_EQ(c.Code(), k.code);
    EXPECT_EQ(c.Detail(), k.detail);
  }
}

// A job outlives its context: its lists still work, and what needs the
// context (outputs, runs) fails instead of reaching the ended context, even
// when a new context has taken the old one's handle number.
TEST(PmaJob, OutlivesItsContext) {
  testsupport::TempDir dir;
  const std::string path = dir.path() + "/p";
  uint32_t context = uint32_t(pipInit(0, nullptr));
  uint32_t job = 0;
  ASSERT_EQ(pipPmaInit(context, &job), 1);
  ASSERT_EQ(pipPmaAddStore(job, 0, 0, "A"), 1);
  ASSERT_EQ(pipPmaSetOutputFiles(job, 0, path.c_str(), "", ""), 1);
  EXPECT_EQ(pipTerm(context), 1);
  Context next;  // likely given the ended context's number
  EXPECT_EQ(pipPmaAddStore(job, 0, 0, "B"), 1);
  EXPECT_EQ(pipPmaAddStore(job, 0, 0, "A"), -1);
  EXPECT_EQ(pipPmaGenerateRingPolygons(job, 8, 0, 1, 10, 0, 0), -1);
  EXPECT_EQ(pipPmaGenerateNonoverlappingRingPolygons(job, 8, 0, 1, 10, 0, 0), -1);
  EXPECT_EQ(pipPmaGenerateConvexHullPolygons(job, 1, 0, 0, 1, 0.5, 0, 0), -1);
  EXPECT_EQ(pipPmaSetOutputFiles(job, 0, path.c_str(), "", ""), -1);
  EXPECT_EQ(next.Code(), -1);  // nothing reached the new context
  EXPECT_EQ(pipPmaTerm(job, 1), 1);
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{});
}

// ---- runs ---------------------------------------------------------------------

struct Progress {
  static inline std::vector<std::string> calls;
  static inline int32_t stopAt = 0;
  static int32_t Call(int32_t stores, int32_t store, const char* name) {
    calls.push_back(std::to_string(stores) + ":" + std::to_string(store) + ":" + name);
    return store == stopAt ? 0 : 1;
  }
};

class PmaRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(job_.result(), 1);
    Progress::calls.clear();
    Progress::stopAt = 0;
    for (int32_t s = 1; s <= 3; ++s) {
      const std::string name = "S" + std::to_string(s);
      ASSERT_EQ(pipPmaAddStore(job_.handle(), s * 1000, 0, name.c_str()), 1);
    }
  }
  std::string Path(const char* name) const { return dir_.path() + "/" + name; }

  testsupport::TempDir dir_;
  Context c_;
  Job job_{c_};
};

TEST_F(PmaRun, ProgressIsCalledOncePerStore) {
  ASSERT_EQ(pipPmaSetOutputFiles(job_.handle(), 0, Path("p").c_str(), "", ""), 1);
  EXPECT_EQ(pipPmaSetProgressFunction(job_.handle(), Progress::Call), 1);
  EXPECT_EQ(pipPmaGenerateRingPolygons(job_.handle(), 8, 0, 1, 100, 0, 0), 1);
  EXPECT_EQ(Progress::calls, (std::vector<std::string>{"3:1:S1", "3:2:S2", "3:3:S3"}));
  // Cleared, it is called no more.
  EXPECT_EQ(pipPmaSetProgressFunction(job_.handle(), nullptr), 1);
  EXPECT_EQ(pipPmaGenerateRingPolygons(job_.handle(), 8, 0, 1, 100, 0, 0), 1);
  EXPECT_EQ(Progress::calls.size(), 3u);
  EXPECT_EQ(job_.object().Output(kPmaPrimary).objects, 6u);
}

// A callback that stops the run at the first store: the run fails with the
// user's stop, that store's polygons are in the outputs, and a term without
// keep leaves no file behind.
TEST_F(PmaRun, CancelledRunLeavesNoOutput) {
  ASSERT_EQ(pipPmaSetOutputFiles(job_.handle(), 0, Path("p").c_str(), Path("s").c_str(), ""), 1);
  ASSERT_EQ(pipPmaSetProgressFunction(job_.handle(), Progress::Call), 1);
  Progress::stopAt = 1;
  EXPECT_EQ(pipPmaGenerateRingPolygons(job_.handle(), 8, 0, 1, 100, 200, 0), -1);
  EXPECT_EQ(c_.Code(), 100);
  EXPECT_EQ(c_.Detail(), "Pma polygon generation stopped before completion by user.");
  EXPECT_EQ(Progress::calls, std::vector<std::string>{"3:1:S1"});
  EXPECT_EQ(job_.object().Output(kPmaPrimary).objects, 1u);
  EXPECT_EQ(job_.object().Output(kPmaSecondary).objects, 1u);
  EXPECT_EQ(job_.Term(0), 1);
  EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{});
}

// keep 1 finishes the files that received objects and discards the others;
// keep 0 discards every one.
TEST_F(PmaRun, TermKeepsOnlyFilesWithObjects) {
  for (int32_t keep : {1, 0}) {
    SCOPED_TRACE(keep);
    Job job(c_);
    ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "S"), 1);
    const std::string p = Path("p") + std::to_string(keep), s = Path("s") + std::to_string(keep),
                      t = Path("t") + std::to_string(keep);
    ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 0, p.c_str(), s.c_str(), t.c_str()), 1);
    // No tertiary ring: its file receives nothing.
    ASSERT_EQ(pipPmaGenerateRingPolygons(job.handle(), 12, 0, 1, 100, 200, 0), 1);
    EXPECT_EQ(job.Term(keep), 1);
    EXPECT_EQ(std::filesystem::exists(p + ".gsb"), keep == 1);
    EXPECT_EQ(std::filesystem::exists(s + ".gsb"), keep == 1);
    EXPECT_FALSE(std::filesystem::exists(t + ".gsb"));
  }
  EXPECT_EQ(FilesIn(dir_.path()), (std::vector<std::string>{"p1.gsb", "s1.gsb"}));
  // The kept files answer lookups like any boundary file: the secondary
  // ring holds the primary as a hole.
  const std::pair<const char*, std::vector<std::pair<int32_t, std::string>>> lookups[] = {
      {"p1.gsb", {{0, "PMA S PR"}, {150, ""}}},
      {"s1.gsb", {{0, ""}, {150, "PMA S SR"}, {250, ""}}},
  };
  for (const auto& [file, hits] : lookups) {
    uint32_t handle = 0;
    ASSERT_EQ(pipObjectFileOpen(c_.handle(), Path(file).c_str(), 0, &handle), 1) << file;
    for (const auto& [x, expected] : hits) {
      char name[128] = "";
      const int32_t found = pipObjectFindFirstContaining(handle, x, 0, 0, name, sizeof name);
      EXPECT_EQ(found == 1 ? std::string(name) : std::string(), expected) << file << " " << x;
    }
    pipObjectFileClose(handle);
  }
}

// A term whose output cannot be finished fails, and the job ends anyway: its
// handle is gone and nothing of it is left open.
TEST_F(PmaRun, FailedTermStillEndsTheJob) {
  const std::string sub = Path("sub");
  ASSERT_TRUE(std::filesystem::create_directory(sub));
  const int32_t before = HandleTable::Global().InUseCount();
  uint32_t job = 0;
  ASSERT_EQ(pipPmaInit(c_.handle(), &job), 1);
  ASSERT_EQ(pipPmaAddStore(job, 0, 0, "S"), 1);
  ASSERT_EQ(pipPmaSetOutputFiles(job, 0, (sub + "/p").c_str(), "", ""), 1);
  ASSERT_EQ(pipPmaGenerateRingPolygons(job, 8, 0, 1, 100, 0, 0), 1);
  std::filesystem::remove_all(sub);
  EXPECT_EQ(pipPmaTerm(job, 1), -1);
  EXPECT_EQ(HandleTable::Global().InUseCount(), before);
  EXPECT_EQ(pipPmaAddStore(job, 0, 0, "T"), -1);
}

// Three convex-hull runs in geographic coordinates, where the store's frame
// shortens x, leave every customer exactly as it was added.
TEST_F(PmaRun, RunsNeverChangeTheCustomers) {
  Job job(c_);
  const int32_t sx = -80123457, sy = 45654321;
  ASSERT_EQ(pipPmaAddStore(job.handle(), sx, sy, "G"), 1);
  std::vector<CpmaCustomer> added;
  for (int32_t k = 0; k < 20; ++k) {
    const CpmaCustomer customer{sx + (k * 7919) % 20011 - 10000, sy + (k * 104729) % 15013 - 7500,
                                1.0 + k};
    added.push_back(customer);
    ASSERT_EQ(pipPmaAddCustomer(job.handle(), customer.x, customer.y, "G", customer.value), 1);
  }
  ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 1, Path("hull").c_str(), "", ""), 1);
  for (int run = 0; run < 3; ++run)
    ASSERT_EQ(pipPmaGenerateConvexHullPolygons(job.handle(), 1, 0, 1, 1, 0.8, 0, 0), 1);
  const CpmaCustomerList& list = *job.object().Customers(0);
  ASSERT_EQ(list.Count(), 20);
  for (int32_t k = 0; k < 20; ++k) {
    EXPECT_EQ(list[k].x, added[size_t(k)].x) << k;
    EXPECT_EQ(list[k].y, added[size_t(k)].y) << k;
    EXPECT_EQ(list[k].value, added[size_t(k)].value) << k;
  }
  EXPECT_EQ(job.object().Output(kPmaPrimary).objects, 3u);
  EXPECT_EQ(job.Term(1), 1);
}

}  // namespace
