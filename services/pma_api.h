// Trade-area jobs: CpmaInterface, the object behind a handle of type 8, holds
// the stores (named points), one customer list per store position, the three
// output records and the progress callback. The pipPma*Intern bodies
// (declared in zonelib.h) work on it. The job, its lists and the report
// tables are built in pma_api.cpp; the generators, the output records and
// the operations' working state in pma_ops.cpp, against the functions
// declared at the end of this header.
//
// Contracts on the border cases:
//   - Store names are unique over their first 259 characters and stored cut
//     to 259; a repeated name gives -1 with "Cannot add same store to store
//     list twice." (104). A null name gives "Unexpected NULL pointer
//     passed." (104). A store's number is its position in the store list.
//   - A customer names its store exactly (a name longer than 259 characters
//     names none); an unknown store gives 100 "Cannot add customer: no such
//     store.".
//   - There is a customer list for every store position: 256 at creation,
//     doubled (customers kept) when a store is added at a position beyond
//     them. A store whose list cannot be had is taken out again, so every
//     store in the list has a customer list. Clearing the stores keeps the
//     customer lists: a store added later at a position takes over its list.
//   - Customer lists are never written by the operations. The convex hull
//     moves customers into the store's frame on a scratch copy (the
//     operations' own memory), so that runs never shift the caller's
//     customers.
//   - Terminating a job closes every output even when one of them fails;
//     through the handle the job always ends (-1 tells that a file failed).
//   - A job outlives its context and keeps reporting into the context's
//     error. Opening outputs and running need the context itself: through
//     the handles they fail (100 "The library context of the PMA object has
//     ended.") once it has ended; a caller of the bodies keeps the context
//     alive while it opens outputs or runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "boundary/mainintn.h"
#include "zonelib.h"

class BoundaryBuilder;

// Sizes of the job's texts: 259 characters and a NUL.
inline constexpr size_t kPmaNameSize = 260;
inline constexpr size_t kPmaNameLength = kPmaNameSize - 1;

inline constexpr int32_t kPmaInitialLists = 256;
inline constexpr int32_t kPmaFirstStoreCapacity = 100;
inline constexpr int32_t kPmaFirstCustomerCapacity = 16;

// Report sources and texts of the job.
inline constexpr const char* kPmaApiSource = "pmaapi";
inline constexpr const char* kPmaIntnSource = "pmaintn";
inline constexpr const char* kPmaInterSource = "pmainter";
inline constexpr const char* kPmaInterfaceSource = "CpmaInterface";
inline constexpr const char* kPmaOperationSource = "CpmaOperation";
inline constexpr const char* kPmaCannotCreateText = "Cannot create PMA object.";
inline constexpr const char* kPmaNoMemoryText = "Cannot allocate memory.";
inline constexpr const char* kPmaNoSuchStoreText = "Cannot add customer: no such store.";
inline constexpr const char* kPmaNoCustomerArrayText =
    "Cannot add customer: customer list not allocated.";
inline constexpr const char* kPmaOwnerEndedText =
    "The library context of the PMA object has ended.";

// Results of the store and customer lists, turned into reports by
// PmaReportPointList.
enum PmaListResult : int32_t {
  kPmaListOk = 1,
  kPmaListNoMemory = -1,
  kPmaListNull = -2,
  kPmaListDuplicate = -3,
};

// Results of an operation step, turned into reports by PmaReportOperation.
enum PmaOperationResult : int32_t {
  kPmaOpOk = 1,
  kPmaOpTooFewSegments = -1,
  kPmaOpTooManySegments = -2,
  kPmaOpRadiusTooSmall = -3,
  kPmaOpStoreList = -4,
  kPmaOpCustomerList = -5,
  kPmaOpNoMemory = -6,
  kPmaOpIterator = -7,
  kPmaOpBadPercentage = -8,
  kPmaOpClipping = -9,
  kPmaOpTooFewPoints = -10,
  kPmaOpStopped = -11,
};

struct PmaReportText {
  int32_t result;
  int32_t code;
  const char* text;
};
// The rows of the two tables (the last row of each is the fallback for any
// other result), for the reporters and the tests.
extern const PmaReportText kPmaPointListTable[4];
extern const PmaReportText kPmaOperationTable[12];

struct CpmaStoreEntry {
  int32_t x;
  int32_t y;
  int32_t number;
};

// Stores in insertion order; 100 entries at the first growth, doubled when
// full. Clear keeps the memory.
class CpmaStoreList {
 public:
  int32_t Count() const { return int32_t(entries_.size()); }
  int32_t Capacity() const { return int32_t(entries_.capacity()); }
  const CpmaStoreEntry& operator[](int32_t i) const { return entries_[size_t(i)]; }
  const CpmaStoreEntry* begin() const { return entries_.data(); }
  const CpmaStoreEntry* end() const { return entries_.data() + entries_.size(); }

  // kPmaListOk, or kPmaListNoMemory when the list cannot grow.
  int32_t Add(const CpmaStoreEntry& entry);
  void Clear() { entries_.clear(); }

 protected:
  // Room for one more entry; false when it cannot be had.
  bool Reserve();
  void DropLast() { entries_.pop_back(); }

 private:
  std::vector<CpmaStoreEntry> entries_;
};

// The job's stores: entries numbered by position, with their names.
class CpmaGlobalStoreList : public CpmaStoreList {
 public:
  // Appends {x, y, number = Count()} with the name cut to 259 characters:
  // kPmaListOk, kPmaListNull, kPmaListDuplicate or kPmaListNoMemory.
  int32_t AddStore(int32_t x, int32_t y, const char* name);
  // The store's number by exact name, or -1.
  int32_t Find(const char* name) const;
  // The stored name of store number i (0 <= i < Count()).
  const char* Name(int32_t i) const { return names_.data() + size_t(i) * kPmaNameSize; }
  void Clear();
  // Takes the last store out again.
  void RemoveLast();

 private:
  // Looked up by a view of the caller's name: a customer's lookup makes no
  // copy of it.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  std::vector<char> names_;  // kPmaNameSize bytes a store
  std::unordered_map<std::string, int32_t, NameHash, std::equal_to<>> byName_;
};

struct CpmaCustomer {
  int32_t x;
  int32_t y;
  double value;
};

// One store's customers in insertion order; 16 entries at the first growth,
// doubled when full (a job of many stores with a hundred customers each
// stays small). Clear frees the memory.
class CpmaCustomerList {
 public:
  int32_t Count() const { return int32_t(customers_.size()); }
  int32_t Capacity() const { return int32_t(customers_.capacity()); }
  // The sum of the values of every customer added since the last clear.
  double TotalValue() const { return total_; }
  const CpmaCustomer& operator[](int32_t i) const { return customers_[size_t(i)]; }
  const CpmaCustomer* begin() const { return customers_.data(); }
  const CpmaCustomer* end() const { return customers_.data() + customers_.size(); }

  // kPmaListOk, or kPmaListNoMemory when the list cannot grow.
  int32_t Add(const CpmaCustomer& customer);
  void Clear();

 private:
  std::vector<CpmaCustomer> customers_;
  double total_ = 0.0;
};

// One output boundary file of a job (primary, secondary, tertiary).
struct CpmaOutputFile {
  char name[kPmaNameSize] = {};
  BoundaryBuilder* builder = nullptr;  // null when closed; two records may share one
  uint32_t objects = 0;
};

enum PmaLevel : int32_t { kPmaPrimary = 0, kPmaSecondary = 1, kPmaTertiary = 2 };

// The working state of the three operations (neighbour lists, scratch
// frames, indexes), defined with the operations in pma_ops.cpp.
struct CpmaOperations;

class CpmaInterface {
 public:
  // An empty job reporting into owner's error; Valid() tells whether its
  // customer lists and operations could be had.
  explicit CpmaInterface(pipContext* owner);
  ~CpmaInterface();
  CpmaInterface(const CpmaInterface&) = delete;
  CpmaInterface& operator=(const CpmaInterface&) = delete;

  bool Valid() const { return valid_; }

  const CpmaGlobalStoreList& Stores() const { return stores_; }
  // The customers of store number n, or null when n has no list.
  const CpmaCustomerList* Customers(int32_t n) const;
  int32_t ListsInUse() const { return listsInUse_; }
  int32_t ListCapacity() const { return int32_t(lists_.size()); }

  // The bodies of pipPmaAddStore, pipPmaAddCustomer and the clears.
  int32_t AddStore(int32_t x, int32_t y, const char* name);
  int32_t AddCustomer(int32_t x, int32_t y, const char* store, double value);
  void ClearStores();
  void ClearCustomers();

  CpmaOutputFile& Output(int32_t level) { return outputs_[level]; }
  const CpmaOutputFile& Output(int32_t level) const { return outputs_[level]; }
  CpmaOperations* Operations() { return operations_; }

  pipPmaProgressFunction Progress() const { return progress_; }
  void SetProgress(pipPmaProgressFunction progress) { progress_ = progress; }

  // The owner context, for opening outputs through the builder, and its
  // handle (0 for a job made by the body).
  pipContext* Owner() const { return owner_; }
  uint32_t OwnerHandle() const { return ownerHandle_; }
  void SetOwnerHandle(uint32_t handle) { ownerHandle_ = handle; }
  pipError& Error() { return *error_; }
  int32_t Report(int32_t code, const char* text, const char* source, int line) {
    return error_->Report(code, text, source, line);
  }

 private:
  // Grows the customer lists to cover position n; false when they cannot.
  bool CoverPosition(int32_t n);

  CpmaGlobalStoreList stores_;
  std::vector<CpmaCustomerList> lists_;
  int32_t listsInUse_ = 0;
  CpmaOperations* operations_ = nullptr;
  CpmaOutputFile outputs_[3];
  bool valid_ = false;
  pipContext* owner_;
  uint32_t ownerHandle_ = 0;
  pipErrorRef error_;
  pipPmaProgressFunction progress_ = nullptr;
};

// Report of a failing store or customer list result (source
// "CpmaInterface", line 0) to the job's owner; returns -1.
int32_t PmaReportPointList(CpmaInterface& job, int32_t result);
// Report of a failing operation result through the operation table (source
// "CpmaOperation", line 0); returns -1.
int32_t PmaReportOperation(CpmaInterface& job, int32_t result);

// ---- defined with the operations (pma_ops.cpp) -------------------------------

// The operations' state for a new job; null when it cannot be had.
CpmaOperations* PmaNewOperations(CpmaInterface& job);
void PmaDeleteOperations(CpmaOperations* operations);
// Closes the job's three outputs (keep != 0 finishes files that received
// objects, 0 discards them), every one even when another fails, and empties
// the records: 1, or -1 when any close failed (reported).
int32_t PmaCloseOutputs(CpmaInterface& job, int32_t keep);

template <>
struct HandleKind<CpmaInterface> {
  static constexpr uint32_t kType = kHandleTradeArea;
  static void Discard(CpmaInterface* job) { pipPmaTermIntern(job, 0); }
};
