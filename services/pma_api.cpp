#include "services/pma_api.h"

#include <cstring>
#include <new>

#include "boundary/cframe.h"

const PmaReportText kPmaPointListTable[4] = {
    {kPmaListDuplicate, Q_ERROR_MEMORY, "Cannot add same store to store list twice."},
    {kPmaListNull, Q_ERROR_MEMORY, "Unexpected NULL pointer passed."},
    {kPmaListNoMemory, Q_ERROR_MEMORY, "Cannot allocate memory."},
    {0, Q_ERROR_UNKNOWN, "Unknown error in point list operation."},
};

const PmaReportText kPmaOperationTable[12] = {
    {kPmaOpStopped, Q_ERROR_EMPTY, "Pma polygon generation stopped before completion by user."},
    {kPmaOpTooFewPoints, Q_ERROR_EMPTY, "Not enough points for a polygon."},
    {kPmaOpClipping, Q_ERROR_EMPTY, "Error in polygon clipping."},
    {kPmaOpBadPercentage, Q_ERROR_EMPTY, "Percentage value not beteen 0.0 and 1.0."},
    {kPmaOpIterator, Q_ERROR_EMPTY, "Error creating iterator object."},
    {kPmaOpNoMemory, Q_ERROR_MEMORY, "Allocation of new memory failed."},
    {kPmaOpCustomerList, Q_ERROR_EMPTY, "Error loading customer list."},
    {kPmaOpStoreList, Q_ERROR_EMPTY, "Error loading store list."},
    {kPmaOpRadiusTooSmall, Q_ERROR_EMPTY, "Polygon radius too small."},
    {kPmaOpTooManySegments, Q_ERROR_EMPTY, "Too many segments in polygon."},
    {kPmaOpTooFewSegments, Q_ERROR_EMPTY, "Too few segments in polygon."},
    {0, Q_ERROR_UNKNOWN, "Unknown error in polygon operation."},
};

namespace {

template <size_t N>
const PmaReportText& RowOf(const PmaReportText (&table)[N], int32_t result) {
  for (size_t i = 0; i + 1 < N; ++i)
    if (table[i].result == result) return table[i];
  return table[N - 1];
}

// The name as stored: at most 259 characters.
std::string StoredName(const char* name) {
  return std::string(name, strnlen(name, kPmaNameLength));
}

// Room for one more element of v: the first growth to first, then doubling.
template <class T>
bool ReserveOne(std::vector<T>& v, size_t first) {
  if (v.size() < v.capacity()) return true;
  try {
    v.reserve(v.capacity() == 0 ? first : v.capacity() * 2);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace

// ---- lists -------------------------------------------------------------------

bool CpmaStoreList::Reserve() { return ReserveOne(entries_, kPmaFirstStoreCapacity); }

int32_t CpmaStoreList::Add(const CpmaStoreEntry& entry) {
  if (!Reserve()) return kPmaListNoMemory;
  entries_.push_back(entry);
  return kPmaListOk;
}

int32_t CpmaGlobalStoreList::AddStore(int32_t x, int32_t y, const char* name) {
  if (!name) return kPmaListNull;
  try {
    std::string key = StoredName(name);
    if (byName_.find(key) != byName_.end()) return kPmaListDuplicate;
    const int32_t number = Count();
    if (!Reserve()) return kPmaListNoMemory;
    if (names_.size() + kPmaNameSize > names_.capacity())
      names_.reserve(names_.capacity() == 0 ? kPmaFirstStoreCapacity * kPmaNameSize
                                            : names_.capacity() * 2);
    byName_.emplace(key, number);
    const size_t at = names_.size();
    names_.resize(at + kPmaNameSize, '\0');
    std::memcpy(names_.data() + at, key.data(), key.size());
    Add(CpmaStoreEntry{x, y, number});  // room reserved above
  } catch (const std::bad_alloc&) {
    // Nothing half added stays: the map and names are put back in step with
    // the entries.
    const size_t kept = size_t(Count()) * kPmaNameSize;
    if (names_.size() > kept) names_.resize(kept);
    if (byName_.size() > size_t(Count())) byName_.erase(StoredName(name));
    return kPmaListNoMemory;
  }
  return kPmaListOk;
}

int32_t CpmaGlobalStoreList::Find(const char* name) const {
  if (!name) return -1;
  const size_t length = strnlen(name, kPmaNameSize);
  if (length > kPmaNameLength) return -1;  // no stored name is that long
  auto it = byName_.find(std::string_view(name, length));
  return it == byName_.end() ? -1 : it->second;
}

void CpmaGlobalStoreList::Clear() {
  CpmaStoreList::Clear();
  names_.clear();
  byName_.clear();
}

void CpmaGlobalStoreList::RemoveLast() {
  const int32_t last = Count() - 1;
  if (last < 0) return;
  auto it = byName_.find(std::string_view(Name(last)));
  if (it != byName_.end()) byName_.erase(it);
  names_.resize(names_.size() - kPmaNameSize);
  DropLast();
}

int32_t CpmaCustomerList::Add(const CpmaCustomer& customer) {
  if (!ReserveOne(customers_, kPmaFirstCustomerCapacity)) return kPmaListNoMemory;
  customers_.push_back(customer);
  total_ += customer.value;
  return kPmaListOk;
}

void CpmaCustomerList::Clear() {
  std::vector<CpmaCustomer>().swap(customers_);
  total_ = 0.0;
}

// ---- the job -------------------------------------------------------------------

CpmaInterface::CpmaInterface(pipContext* owner) : owner_(owner), error_(owner->ErrorRef()) {
  try {
    lists_.resize(kPmaInitialLists);
  } catch (const std::bad_alloc&) {
    return;
  }
  operations_ = PmaNewOperations(*this);
  valid_ = operations_ != nullptr;
}

CpmaInterface::~CpmaInterface() {
  if (operations_) PmaDeleteOperations(operations_);
}

const CpmaCustomerList* CpmaInterface::Customers(int32_t n) const {
  if (n < 0 || n >= ListCapacity()) return nullptr;
  return &lists_[size_t(n)];
}

bool CpmaInterface::CoverPosition(int32_t n) {
  size_t capacity = lists_.size();
  if (size_t(n) < capacity) return true;
  while (capacity <= size_t(n)) capacity = capacity == 0 ? kPmaInitialLists : capacity * 2;
  try {
    // The lists move whole: their customers and totals are kept.
    lists_.resize(capacity);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

int32_t CpmaInterface::AddStore(int32_t x, int32_t y, const char* name) {
  const int32_t result = stores_.AddStore(x, y, name);
  if (result != kPmaListOk) return PmaReportPointList(*this, result);
  const int32_t position = stores_.Count() - 1;
  if (!CoverPosition(position)) {
    // A store without a customer list would send its customers past the
    // lists' end.
    stores_.RemoveLast();
    Report(Q_ERROR_MEMORY, kPmaNoMemoryText, kPmaInterfaceSource, __LINE__);
    return -1;
  }
  // Counted by position, so that stores added again after a clear reuse the
  // lists instead of growing them without end.
  if (position + 1 > listsInUse_) listsInUse_ = position + 1;
  return 1;
}

int32_t CpmaInterface::AddCustomer(int32_t x, int32_t y, const char* store, double value) {
  const int32_t number = stores_.Find(store);
  if (number < 0) {
    Report(Q_ERROR_EMPTY, kPmaNoSuchStoreText, kPmaInterSource, __LINE__);
    return -1;
  }
  if (!valid_ || number >= ListCapacity()) {
    Report(Q_ERROR_EMPTY, kPmaNoCustomerArrayText, kPmaInterSource, __LINE__);
    return -1;
  }
  const int32_t result = lists_[size_t(number)].Add(CpmaCustomer{x, y, value});
  // Any failure of the list is reported as the table's unknown one.
  if (result != kPmaListOk) return PmaReportPointList(*this, 0);
  return 1;
}

void CpmaInterface::ClearStores() { stores_.Clear(); }

void CpmaInterface::ClearCustomers() {
  for (CpmaCustomerList& list : lists_) list.Clear();
}

int32_t PmaReportPointList(CpmaInterface& job, int32_t result) {
  const PmaReportText& row = RowOf(kPmaPointListTable, result);
  job.Report(row.code, row.text, kPmaInterfaceSource, 0);
  return -1;
}

int32_t PmaReportOperation(CpmaInterface& job, int32_t result) {
  const PmaReportText& row = RowOf(kPmaOperationTable, result);
  job.Report(row.code, row.text, kPmaOperationSource, 0);
  return -1;
}

// ---- the bodies of the C interface ----------------------------------------------

int32_t pipPmaInitIntern(pipContext* context, CpmaInterface** out) {
  if (!out) return -1;
  *out = nullptr;
  if (!context) return -1;
  auto* job = new (std::nothrow) CpmaInterface(context);
  if (!job) {
    context->Report(Q_ERROR_MEMORY, kPmaCannotCreateText, kPmaIntnSource, __LINE__);
    return -1;
  }
  if (!job->Valid()) {
    delete job;
    return -1;
  }
  *out = job;
  return 1;
}

int32_t pipPmaTermIntern(CpmaInterface* job, int32_t keep) {
  if (!job) return 1;
  if (PmaCloseOutputs(*job, keep) != 1) return -1;
  delete job;
  return 1;
}

int32_t pipPmaAddStoreIntern(CpmaInterface* job, int32_t x, int32_t y, const char* name) {
  return job ? job->AddStore(x, y, name) : -1;
}

int32_t pipPmaAddCustomerIntern(CpmaInterface* job, int32_t x, int32_t y, const char* store,
                                double value) {
  return job ? job->AddCustomer(x, y, store, value) : -1;
}

int32_t pipPmaClearStoresIntern(CpmaInterface* job) {
  if (job) job->ClearStores();
  return 1;
}

int32_t pipPmaClearCustomersIntern(CpmaInterface* job) {
  if (job) job->ClearCustomers();
  return 1;
}

int32_t pipPmaSetProgressFunctionIntern(CpmaInterface* job, pipPmaProgressFunction progress) {
  if (job) job->SetProgress(progress);
  return 1;
}

// ---- the C interface -------------------------------------------------------------

namespace {

// body() with the job's context held, so that it cannot end meanwhile; -1
// (reported to the job) when it has ended already. A context made since
// under the same number (even at the same address) is told apart by its
// error object: the job still holds the old one, so the new one lies
// elsewhere.
template <class Body>
int32_t WithOwner(CpmaInterface& job, Body&& body) {
  if (!job.OwnerHandle()) return body();
  HandleUse<pipContext> owner(job.OwnerHandle());
  if (owner.get() != job.Owner() || &owner.get()->Error() != &job.Error()) {
    job.Report(Q_ERROR_EMPTY, kPmaOwnerEndedText, kPmaApiSource, __LINE__);
    return -1;
  }
  return body();
}

}  // namespace

ZONELIB_API int32_t pipPmaInit(uint32_t context, uint32_t* handle) {
  return CreateHandle<CpmaInterface>(context, handle, [&](pipContext& c, CpmaInterface*& job) {
    const int32_t result = pipPmaInitIntern(&c, &job);
    if (job) job->SetOwnerHandle(context);
    return result;
  });
}

ZONELIB_API int32_t pipPmaTerm(uint32_t job, int32_t keep) {
  return DestroyHandle<CpmaInterface>(job, [&](CpmaInterface* j) -> int32_t {
    if (pipPmaTermIntern(j, keep) == 1) return 1;
    // The handle is gone, so the job must go too; its outputs are closed
    // already (the failure is reported).
    if (pipPmaTermIntern(j, 0) != 1) delete j;
    return -1;
  });
}

ZONELIB_API int32_t pipPmaAddStore(uint32_t job, int32_t x, int32_t y, const char* name) {
  return WithHandle<CpmaInterface>(
      job, [&](CpmaInterface& j) { return pipPmaAddStoreIntern(&j, x, y, name); });
}

ZONELIB_API int32_t pipPmaAddCustomer(uint32_t job, int32_t x, int32_t y, const char* store,
                                      double value) {
  return WithHandle<CpmaInterface>(
      job, [&](CpmaInterface& j) { return pipPmaAddCustomerIntern(&j, x, y, store, value); });
}

ZONELIB_API int32_t pipPmaClearStores(uint32_t job) {
  return WithHandle<CpmaInterface>(job,
                                   [](CpmaInterface& j) { return pipPmaClearStoresIntern(&j); });
}

ZONELIB_API int32_t pipPmaClearCustomers(uint32_t job) {
  return WithHandle<CpmaInterface>(job,
                                   [](CpmaInterface& j) { return pipPmaClearCustomersIntern(&j); });
}

ZONELIB_API int32_t pipPmaSetOutputFiles(uint32_t job, int32_t coordinateKind, const char* primary,
                                         const char* secondary, const char* tertiary) {
  return WithHandle<CpmaInterface>(job, [&](CpmaInterface& j) {
    return WithOwner(j, [&] {
      return pipPmaSetOutputFilesIntern(&j, coordinateKind, primary, secondary, tertiary);
    });
  });
}

ZONELIB_API int32_t pipPmaSetProgressFunction(uint32_t job, pipPmaProgressFunction progress) {
  return WithHandle<CpmaInterface>(
      job, [&](CpmaInterface& j) { return pipPmaSetProgressFunctionIntern(&j, progress); });
}

ZONELIB_API int32_t pipPmaGenerateRingPolygons(uint32_t job, int32_t segments, int32_t geographic,
                                               int32_t twoPart, double r1, double r2, double r3) {
  return WithHandle<CpmaInterface>(job, [&](CpmaInterface& j) {
    return WithOwner(j, [&] {
      return pipPmaGenerateRingPolygonsIntern(&j, segments, geographic, twoPart, r1, r2, r3);
    });
  });
}

ZONELIB_API int32_t pipPmaGenerateNonoverlappingRingPolygons(uint32_t job, int32_t segments,
                                                             int32_t geographic, int32_t twoPart,
                                                             double r1, double r2, double r3) {
  return WithHandle<CpmaInterface>(job, [&](CpmaInterface& j) {
    return WithOwner(j, [&] {
      return pipPmaGenerateNonoverlappingRingPolygonsIntern(&j, segments, geographic, twoPart, r1,
                                                            r2, r3);
    });
  });
}

ZONELIB_API int32_t pipPmaGenerateConvexHullPolygons(uint32_t job, int32_t thresholdKind,
                                                     double maxDistance, int32_t geographic,
                                                     int32_t twoPart, double t1, double t2,
                                                     double t3) {
  return WithHandle<CpmaInterface>(job, [&](CpmaInterface& j) {
    return WithOwner(j, [&] {
      return pipPmaGenerateConvexHullPolygonsIntern(&j, thresholdKind, maxDistance, geographic,
                                                    twoPart, t1, t2, t3);
    });
  });
}
