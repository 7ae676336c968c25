// The table level of field indexes: binding columns to the trees of the
// table's .IND file, building an index from the rows, dropping it, keeping
// the indexes in step with row changes, and the plans that answer
// "column = value" on a table or a view.
//
// Building reads the rows in slices of kBuildSliceTicks clock ticks, so that
// a host could show progress between slices. The keys are gathered by the
// file level's bulk build, which sorts them once and lays the new tree out
// page by page instead of inserting row by row (equal keys keep row order,
// so the entries are the ones row-by-row inserts give).
//
// Searches answer through IndexSearch:
//   kIndexSeek with a key: 1 and the first view row whose value equals the
//       key, else 0 and row 0;
//   kIndexNextEqual: the next view row with that value, 0 and row 0 after
//       the last one;
//   any other move: the move on the planned index, its row translated.
// A search plan holds the index files it uses (acquired) until
// IndexSearchEnd.
//
// The temporary expression indexes of a view live in one temporary .IND per
// view (TableObject::searchCache), with the tuple index plan 3 uses for a
// tuple join beside them; TableIndexesClose frees them with the table's own
// field indexes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/dbf.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/tabdef.h"
#include "platform/endian.h"

namespace layerio {

namespace {

constexpr uint32_t kBuildSliceTicks = 200;
// Plan 3 only while the base table has fewer than this many rows per view
// row: past it a temporary index of the view is cheaper to walk.
constexpr uint32_t kBaseRowsPerViewRow = 10;
// The view kind whose expression indexes are never reused.
constexpr uint8_t kViewKindNoReuse = 6;

// Compiled code of a column reference: {241, 26, u16 offset} and, at the
// offset, the field number (u32) and the part it belongs to (u8).
constexpr uint8_t kOpEnd = 0;
constexpr uint8_t kOpConstant = 241;
constexpr uint8_t kClassColumn = 26;

// Codes of the frame that the table level pushes too.
constexpr int16_t kErrBadField = 644;
constexpr int16_t kErrTableNotWritable = 891;

void Push(int16_t code, const char* text0 = nullptr, const char* text1 = nullptr) {
  ErrorPush(kErrorSeverity, code, text0, text1);
}

uint32_t PartCount(const TableObject* view) { return view->partCount ? view->partCount : 1; }

TableObject* PartTable(TableObject* view, uint32_t i) {
  return view->partCount ? view->parts[i].table : view;
}

void FieldIndexFree(FieldIndex** index) {
  if (!*index) return;
  IndexKeyFree(&(*index)->key);
  MemFree(*index);
  *index = nullptr;
}

FieldIndex* FieldIndexNew(int number, int unique, uint8_t type, int width, int decimals) {
  auto* index = static_cast<FieldIndex*>(MemAlloc(sizeof(FieldIndex)));
  if (!index) {
    Push(kErrNoMemory);
    return nullptr;
  }
  std::memset(index, 0, sizeof *index);
  index->number = uint16_t(number);
  index->unique = unique ? 1 : 0;
  if (!IndexKeyInitForField(&index->key, type, width)) {
    MemFree(index);
    return nullptr;
  }
  index->key.decimals = uint8_t(decimals);
  return index;
}

// The key width of a column: a Char key holds at most kIndexMaxKey bytes.
int KeyWidth(const FieldDef& field) {
  return field.value.kind == kFieldChar && field.width > kIndexMaxKey ? kIndexMaxKey
                                                                       : field.width;
}

// The name and folder of the table's companion files: those of its
// definition, else of its data file. False for a table without files.
bool CompanionName(const TableObject* table, char* name, char* directory) {
  FileHandle h = table->defFile > 0 ? table->defFile : table->source.file;
  if (h <= 0) return false;
  FileBaseName(h, name);
  FileDir(h, directory);
  return name[0] != 0;
}

// ----- equal-key cursor moves --------------------------------------------------

// Seeks the first entry whose key equals `value`'s. With no such entry the
// cursor is put after the last entry, so that a following "next equal" ends.
bool SeekEqual(IndexFile* file, FieldIndex* index, const Value* value) {
  if (!IndexKeyMake(value, &index->key, index->key.decimals, file->stamp)) return false;
  uint8_t sought[kIndexMaxKey];
  const int length = index->key.length;
  std::memcpy(sought, index->key.bytes, size_t(length));
  if (IndexMoveCursor(file, index, kIndexSeek, nullptr) && index->key.row != 0 &&
      std::memcmp(sought, index->key.bytes, size_t(length)) == 0) {
    return true;
  }
  IndexMoveCursor(file, index, kIndexAfterLast, nullptr);
  index->key.row = 0;
  return false;
}

// Moves to the next entry when its key equals the current one's; otherwise
// the cursor is put after the last entry.
bool NextEqual(IndexFile* file, FieldIndex* index) {
  if (index->key.row == 0) return false;
  uint8_t current[kIndexMaxKey];
  const int length = index->key.length;
  std::memcpy(current, index->key.bytes, size_t(length));
  if (IndexMoveCursor(file, index, kIndexNext, nullptr) && index->key.row != 0 &&
      std::memcmp(current, index->key.bytes, size_t(length)) == 0) {
    return true;
  }
  IndexMoveCursor(file, index, kIndexAfterLast, nullptr);
  index->key.row = 0;
  return false;
}

// ----- building an index from the rows -------------------------------------------

// The stepped job of a build: rows are read and their keys gathered in
// slices; the last step sorts the gathered keys and lays the tree out.
struct BuildJob {
  TableObject* table;
  uint32_t field;
  IndexBulk* bulk;
  uint32_t rows;
  uint32_t next = 1;  // the next row to read
  bool stop = false;
  bool finished = false;
};

// One step: reads rows until its slice of clock ticks is over; true while
// there is work left.
bool BuildStep(BuildJob* job, bool first) {
  if (first) job->next = 1;
  TableObject* t = job->table;
  const Value* value = &t->fields[job->field].value;
  const uint32_t start = ClockTicks();
  for (uint32_t n = 0; job->next <= job->rows; ++n) {
    if ((n & 255) == 255 && ClockTicks() - start >= kBuildSliceTicks) return true;
    if (!DataSourceReadRow(&t->source, t->fields, job->next) ||
        !IndexBulkAdd(job->bulk, value, job->next)) {
      job->stop = true;
      return false;
    }
    ++job->next;
  }
  IndexBulk* bulk = job->bulk;
  job->bulk = nullptr;
  if (!IndexBulkFinish(bulk)) job->stop = true;
  return false;
}

// Runs the job to its end at once: the first step, then the others for as
// long as they answer that work is left.
void StepJobRunAll(BuildJob* job) {
  if (BuildStep(job, true)) {
    while (BuildStep(job, false)) {
    }
  }
  job->finished = !job->stop;
}

bool BuildFromRows(TableObject* table, uint32_t field, IndexFile* file, FieldIndex* index) {
  BuildJob job;
  job.table = table;
  job.field = field;
  job.rows = table->source.rowCount;
  job.bulk = IndexBulkBegin(file, index, job.rows);
  if (!job.bulk) return false;
  StepJobRunAll(&job);
  if (job.bulk) IndexBulkAbort(job.bulk);
  return job.finished;
}

bool BelongsToRemoteJoin(const TableObject* table) {
  return table->source.kind == kDataRemote;
}

// ----- the cache of a view's temporary indexes -----------------------------------

struct CachedIndex {
  CachedIndex* next;
  uint8_t* expr;      // owned copy; null for the tuple index
  size_t exprSize;
  uint8_t parts[2];   // lowest and highest part the expression reads
  int flags;
  FieldIndex* index;
  uint32_t keys;
  int64_t built;      // the temporary file's modification time after the build
  uint32_t changes;   // the change counter when it was built
};

struct SearchCache {
  IndexFile* file;  // the view's temporary .IND
  List entries;     // of CachedIndex
};

size_t ExprSize(const uint8_t* code) {
  void* p = const_cast<uint8_t*>(code);
  return MemSize(&p);
}

// The lowest and highest part read by the column references of a code.
void ExprParts(const uint8_t* code, uint8_t parts[2]) {
  parts[0] = 255;
  parts[1] = 0;
  const uint8_t* p = code;
  for (;;) {
    uint8_t cls = 0;
    uint16_t offset = 0;
    int op = ExprNextOp(&p, &cls, &offset);
    if (op == kOpEnd) break;
    if (op == kOpConstant && cls == kClassColumn) {
      uint8_t part = code[offset + 4];
      parts[0] = std::min(parts[0], part);
      parts[1] = std::max(parts[1], part);
    }
  }
  if (parts[0] > parts[1]) parts[0] = parts[1] = 0;
}

SearchCache* CacheOf(TableObject* view, bool make) {
  auto* cache = static_cast<SearchCache*>(view->searchCache);
  if (cache || !make) return cache;
  cache = static_cast<SearchCache*>(MemAlloc(sizeof(SearchCache)));
  if (!cache) {
    Push(kErrNoMemory);
    return nullptr;
  }
  cache->file = nullptr;
  ListInit(&cache->entries);
  view->searchCache = cache;
  return cache;
}

void CachedIndexFree(SearchCache* cache, CachedIndex* entry) {
  if (cache->file && entry->index) {
    if (IndexFileAcquire(cache->file, kFileModeWrite)) {
      IndexDrop(cache->file, entry->index->number);
      IndexFileRelease(cache->file);
    }
  }
  FieldIndexFree(&entry->index);
  MemFree(entry->expr);
  MemFree(entry);
}

// A cached index may be used again when no table it reads changed since it
// was built: each part's data file is older than the build and no row of it
// changed after the build's change count.
bool CachedIndexFresh(const TableObject* view, const CachedIndex* entry) {
  if (view->viewKind == kViewKindNoReuse) return false;
  for (uint32_t i = entry->parts[0]; i <= entry->parts[1] && i < PartCount(view); ++i) {
    const TableObject* part = PartTable(const_cast<TableObject*>(view), i);
    if (part->source.kind == kDataRemote) return false;
    if (part->source.file > 0 && FileModTime(part->source.file) >= entry->built) return false;
    if (entry->changes < part->changeStamp) return false;
  }
  return true;
}

// The value of a compiled expression on the view's current row: a column
// reference reads its part's field; anything else is evaluated. A failed
// evaluation gives a blank Integer.
void ExprValue(TableObject* view, const uint8_t* code, Value* out) {
  uint32_t field = 0;
  uint8_t part = 0;
  std::memset(out, 0, sizeof *out);
  if (ExprIsColumnRef(code, &field, &part) && code[1] == kClassColumn) {
    TableObject* t = part < PartCount(view) ? PartTable(view, part) : nullptr;
    if (t && field < t->fieldCount && ValueCopy(out, &t->fields[field].value)) return;
  } else if (ExprEvaluate(code, out)) {
    return;
  }
  ValueFree(out);
  std::memset(out, 0, sizeof *out);
  out->kind = kValueInteger;
}

// The key type and width of an expression's result.
bool ExprKeyType(TableObject* view, const uint8_t* code, uint8_t* type, int* width) {
  uint32_t field = 0;
  uint8_t part = 0;
  if (ExprIsColumnRef(code, &field, &part) && code[1] == kClassColumn) {
    TableObject* t = part < PartCount(view) ? PartTable(view, part) : nullptr;
    if (!t || field >= t->fieldCount) return false;
    *type = t->fields[field].value.kind;
    *width = KeyWidth(t->fields[field]);
    return IndexKeyLength(*type, *width, 1) > 0;
  }
  Value v;
  ExprValue(view, code, &v);
  *type = v.kind == kValueFloat ? uint8_t(kFieldFloat) : v.kind;
  *width = v.kind == kValueText ? kIndexMaxKey : 0;
  ValueFree(&v);
  if (*type == kValueDecimal) *type = kFieldFloat;
  return IndexKeyLength(*type, *width, 1) > 0;
}

// Opens the view's temporary file for writing, making it (beside the view's
// first table) on first use.
bool CacheFileReady(TableObject* view, SearchCache* cache) {
  if (cache->file) return IndexFileAcquire(cache->file, kFileModeWrite) != 0;
  char name[kNameCapacity];
  char directory[kPathCapacity];
  bool named = CompanionName(PartTable(view, 0), name, directory);
  cache->file = IndexFileCreate(nullptr, named ? directory : nullptr, kFileKindIndex, 1);
  return cache->file != nullptr;
}

// Builds the index of an expression over the view's rows, the row position
// as each key's value.
CachedIndex* ExprIndexBuild(TableObject* view, SearchCache* cache, const uint8_t* code,
                            int flags) {
  uint8_t type = 0;
  int width = 0;
  if (!ExprKeyType(view, code, &type, &width)) return nullptr;
  auto* entry = static_cast<CachedIndex*>(MemAlloc(sizeof(CachedIndex)));
  if (!entry) {
    Push(kErrNoMemory);
    return nullptr;
  }
  std::memset(entry, 0, sizeof *entry);
  entry->flags = flags;
  ExprParts(code, entry->parts);
  entry->exprSize = ExprSize(code);
  entry->expr = static_cast<uint8_t*>(MemAlloc(entry->exprSize ? entry->exprSize : 1));
  if (!entry->expr || !CacheFileReady(view, cache)) {
    if (!entry->expr) Push(kErrNoMemory);
    MemFree(entry->expr);
    MemFree(entry);
    return nullptr;
  }
  std::memcpy(entry->expr, code, entry->exprSize);
  int number = IndexAdd(cache->file, type, width, 0);
  bool ok = number > 0;
  if (ok) {
    entry->index = FieldIndexNew(number, 0, type, width, 0);
    ok = entry->index != nullptr;
  }
  const uint32_t position = view->position;
  if (ok) {
    uint32_t rowOut = 0;
    int atEnd = 0;
    TableMoveTo(view, kMoveBeforeFirst, 0, &rowOut, &atEnd);
    for (;;) {
      int16_t read = TableMoveTo(view, kMoveNext, 0, &rowOut, &atEnd);
      if (atEnd) break;
      if (!read) continue;  // a row that cannot be read has no key
      Value v;
      ExprValue(view, code, &v);
      ok = IndexInsert(cache->file, entry->index, &v, view->position) != 0;
      ValueFree(&v);
      if (!ok) break;
      ++entry->keys;
    }
  }
  if (position > 0) {
    uint32_t rowOut = 0;
    int atEnd = 0;
    TableMoveTo(view, kMoveTo, position, &rowOut, &atEnd);
  }
  if (!ok) {
    if (number > 0) IndexDrop(cache->file, number);
    IndexFileRelease(cache->file);
    FieldIndexFree(&entry->index);
    MemFree(entry->expr);
    MemFree(entry);
    return nullptr;
  }
  IndexFileRelease(cache->file);
  entry->built = FileModTime(cache->file->file);
  entry->changes = TableChangeCounter();
  return entry;
}

// The cached index of an expression, rebuilt when stale.
CachedIndex* ExprIndexFind(TableObject* view, const uint8_t* code, int flags) {
  SearchCache* cache = CacheOf(view, true);
  if (!cache) return nullptr;
  uint8_t parts[2];
  ExprParts(code, parts);
  for (auto* e = static_cast<CachedIndex*>(ListFirst(&cache->entries)); e;
       e = static_cast<CachedIndex*>(ListNext(e))) {
    if (!e->expr || e->flags != flags || e->parts[0] != parts[0] || e->parts[1] != parts[1] ||
        !ExprEqual(e->expr, code)) {
      continue;
    }
    if (CachedIndexFresh(view, e)) return e;
    ListUnlink(&cache->entries, e);
    CachedIndexFree(cache, e);
    break;
  }
  CachedIndex* built = ExprIndexBuild(view, cache, code, flags);
  if (built) ListInsert(&cache->entries, built, 1);
  return built;
}

// The tuple index of a tuple join: the rows of one part as Integer keys,
// the tuple positions as values.
CachedIndex* TupleIndexFind(TableObject* view, uint8_t part) {
  SearchCache* cache = CacheOf(view, true);
  if (!cache) return nullptr;
  for (auto* e = static_cast<CachedIndex*>(ListFirst(&cache->entries)); e;
       e = static_cast<CachedIndex*>(ListNext(e))) {
    if (e->expr || e->parts[0] != part) continue;
    if (e->changes >= view->changeStamp && FileModTime(view->tupleFile) < e->built) return e;
    ListUnlink(&cache->entries, e);
    CachedIndexFree(cache, e);
    break;
  }
  auto* entry = static_cast<CachedIndex*>(MemAlloc(sizeof(CachedIndex)));
  if (!entry) {
    Push(kErrNoMemory);
    return nullptr;
  }
  std::memset(entry, 0, sizeof *entry);
  entry->parts[0] = entry->parts[1] = part;
  if (!CacheFileReady(view, cache)) {
    MemFree(entry);
    return nullptr;
  }
  const int width = 4;
  int number = IndexAdd(cache->file, kFieldInteger, width, 0);
  bool ok = number > 0;
  if (ok) {
    entry->index = FieldIndexNew(number, 0, kFieldInteger, width, 0);
    ok = entry->index != nullptr;
  }
  FileHandle h = 0;
  if (ok) {
    h = FileOpen(view->tupleFile, kFileModeRead, nullptr);
    ok = h > 0;
  }
  if (ok) {
    const uint32_t stride = view->partCount * 4;
    std::vector<uint8_t> buffer(size_t(stride) * 4096);
    for (uint32_t position = 1; ok && position <= view->tupleCount;) {
      uint32_t n = std::min<uint32_t>(4096, view->tupleCount - position + 1);
      int64_t offset = int64_t(position - 1) * stride;
      int32_t bytes = int32_t(n * stride);
      ok = FileSeek(h, offset, 0) == offset && FileRead(h, buffer.data(), bytes) == bytes;
      for (uint32_t i = 0; ok && i < n; ++i) {
        const uint8_t* p = buffer.data() + size_t(i) * stride + 4u * part;
        Value v{};
        v.kind = kValueInteger;
        v.u.i = QLoadI32LE(p);
        ok = IndexInsert(cache->file, entry->index, &v, position + i) != 0;
      }
      position += n;
    }
    FileClose(h);
  }
  if (!ok) {
    if (number > 0) IndexDrop(cache->file, number);
    IndexFileRelease(cache->file);
    FieldIndexFree(&entry->index);
    MemFree(entry);
    return nullptr;
  }
  IndexFileRelease(cache->file);
  entry->keys = view->tupleCount;
  entry->built = FileModTime(cache->file->file);
  entry->changes = TableChangeCounter();
  ListInsert(&cache->entries, entry, 1);
  return entry;
}

// ----- plans -------------------------------------------------------------------

// The part of the view a plan-3 search runs on.
uint32_t BasePart(const IndexSearchState* state) {
  for (uint32_t i = 0; i < state->view->partCount; ++i)
    if (state->view->parts[i].table == state->base) return i;
  return 0;
}

// The field index a chained join searches to go from part i to part i + 1:
// the next part's index on the linking column.
FieldIndex* LinkIndex(TableObject* view, uint32_t i) {
  TableObject* next = view->parts[i + 1].table;
  FieldIndex* index = nullptr;
  if (!FieldIndexCreate(next, view->parts[i].linkField, 0, nullptr, &index)) return nullptr;
  return index;
}

// Acquires (or with `release` releases) the index files a plan-3 search
// translates through.
bool TranslationFiles(IndexSearchState* state, bool release) {
  TableObject* view = state->view;
  if (view->joinKind == kJoinTuple) {
    SearchCache* cache = CacheOf(view, false);
    if (!cache || !cache->file) return false;
    if (release) {
      IndexFileRelease(cache->file);
      return true;
    }
    return IndexFileAcquire(cache->file, kFileModeRead) != 0;
  }
  const uint32_t from = BasePart(state);
  for (uint32_t i = from + 1; i < view->partCount; ++i) {
    IndexFile* file = view->parts[i].table->indexes;
    if (!file) return false;
    if (release) {
      IndexFileRelease(file);
    } else if (!IndexFileAcquire(file, kFileModeRead)) {
      for (uint32_t j = from + 1; j < i; ++j) IndexFileRelease(view->parts[j].table->indexes);
      return false;
    }
  }
  return true;
}

// Chained join: the first row of the last part reached from row `row` of
// part `i` through the links, or 0. The cursors of the link indexes keep
// the chain found, so that ChainNext goes on from it.
uint32_t ChainFrom(TableObject* view, uint32_t i, uint32_t row) {
  const uint32_t last = view->partCount - 1;
  if (i == last) return row;
  TableObject* part = view->parts[i].table;
  if (!DataSourceReadRow(&part->source, part->fields, row)) return 0;
  FieldIndex* link = view->parts[i + 1].table->fields[view->parts[i].linkField].index;
  if (!link) return 0;
  const Value* key = &part->fields[view->parts[i].indexField].value;
  IndexFile* file = view->parts[i + 1].table->indexes;
  for (bool found = SeekEqual(file, link, key); found; found = NextEqual(file, link)) {
    uint32_t r = ChainFrom(view, i + 1, link->key.row);
    if (r) return r;
  }
  return 0;
}

// The next chain after the current one, the deepest link cursor first.
uint32_t ChainNext(TableObject* view, uint32_t from) {
  const uint32_t last = view->partCount - 1;
  for (uint32_t i = last; i > from; --i) {
    // Link cursor of part i (searched from part i - 1).
    FieldIndex* link = view->parts[i].table->fields[view->parts[i - 1].linkField].index;
    IndexFile* file = view->parts[i].table->indexes;
    while (link && NextEqual(file, link)) {
      uint32_t r = ChainFrom(view, i, link->key.row);
      if (r) return r;
    }
  }
  return 0;
}

// The first view row of a base row (plan 3), or 0.
uint32_t TranslateFirst(IndexSearchState* state, uint32_t baseRow) {
  TableObject* view = state->view;
  if (view->joinKind == kJoinTuple) {
    CachedIndex* tuple = TupleIndexFind(view, uint8_t(BasePart(state)));
    SearchCache* cache = CacheOf(view, false);
    if (!tuple || !cache) return 0;
    Value v{};
    v.kind = kValueInteger;
    v.u.i = int32_t(baseRow);
    return SeekEqual(cache->file, tuple->index, &v) ? tuple->index->key.row : 0;
  }
  return ChainFrom(view, BasePart(state), baseRow);
}

uint32_t TranslateNext(IndexSearchState* state) {
  TableObject* view = state->view;
  if (view->joinKind == kJoinTuple) {
    CachedIndex* tuple = TupleIndexFind(view, uint8_t(BasePart(state)));
    SearchCache* cache = CacheOf(view, false);
    if (!tuple || !cache) return 0;
    return NextEqual(cache->file, tuple->index) ? tuple->index->key.row : 0;
  }
  return ChainNext(view, BasePart(state));
}

// Plan 3: moves the base cursor until one of its rows has a view row.
int16_t BaseSearch(IndexSearchState* state, int move, const Value* key, uint32_t* row) {
  FieldIndex* index = state->index;
  IndexFile* file = state->file;
  bool equalOnly = move == kIndexSeek || move == kIndexNextEqual;
  bool onEntry;
  if (move == kIndexSeek) {
    onEntry = SeekEqual(file, index, key);
  } else if (move == kIndexNextEqual) {
    uint32_t r = TranslateNext(state);
    if (r) {
      *row = r;
      return 1;
    }
    onEntry = NextEqual(file, index);
  } else {
    onEntry = IndexMoveCursor(file, index, move, nullptr) && index->key.row != 0;
  }
  const bool backward = move == kIndexPrevious || move == kIndexPreviousDifferent ||
                        move == kIndexPreviousEqual || move == kIndexLast;
  while (onEntry) {
    uint32_t r = TranslateFirst(state, index->key.row);
    if (r) {
      *row = r;
      return 1;
    }
    // A base row without a view row: on to the next base row.
    if (equalOnly) {
      onEntry = NextEqual(file, index);
    } else {
      onEntry = IndexMoveCursor(file, index, backward ? kIndexPrevious : kIndexNext, nullptr) &&
                index->key.row != 0;
    }
  }
  return 0;
}

// The number of entries of an index, walked from the first.
uint32_t CountEntries(IndexFile* file, FieldIndex* index) {
  uint32_t n = 0;
  for (bool on = IndexMoveCursor(file, index, kIndexFirst, nullptr) && index->key.row;
       on; on = IndexMoveCursor(file, index, kIndexNext, nullptr) && index->key.row) {
    ++n;
  }
  IndexMoveCursor(file, index, kIndexBeforeFirst, nullptr);
  return n;
}

}  // namespace

// ===== binding, building, dropping ================================================

int16_t FieldIndexBind(TableObject* table, uint32_t field, int number, int unique) {
  if (!table || field >= table->fieldCount) {
    Push(kErrBadField);
    return 0;
  }
  FieldDef& f = table->fields[field];
  if (!table->indexes && table->indexFile > 0) {
    table->indexes = IndexFileOpen(table->indexFile, kFileModeRead);
    if (!table->indexes) return 0;
  }
  IndexFile* file = table->indexes;
  const int width = KeyWidth(f);
  const int length = IndexKeyLength(f.value.kind, width, 1);
  if (!file || number < 1 || number > file->entryCount || file->entries[number - 1].root == 0 ||
      length == 0 || file->entries[number - 1].keyLength != length) {
    Push(kErrDefFieldIndex, f.name);
    return 0;
  }
  FieldIndex* index = FieldIndexNew(number, unique, f.value.kind, width, f.decimals);
  if (!index) return 0;
  FieldIndexFree(&f.index);
  f.index = index;
  return 1;
}

int16_t FieldIndexCreate(TableObject* table, uint32_t field, int unique, IndexFile** fileOut,
                         FieldIndex** indexOut) {
  if (fileOut) *fileOut = nullptr;
  if (indexOut) *indexOut = nullptr;
  if (!table || field >= table->fieldCount) {
    Push(kErrBadField);
    return 0;
  }
  FieldDef& f = table->fields[field];
  if (f.index) {
    if ((f.index->unique != 0) != (unique != 0)) {
      Push(kErrIndexUnique, f.name);
      Push(kErrIndexBuild);
      return 0;
    }
    if (fileOut) *fileOut = table->indexes;
    if (indexOut) *indexOut = f.index;
    return 1;
  }
  if (table->partCount > 0) {
    Push(kErrIndexView);
    Push(kErrIndexBuild);
    return 0;
  }
  if (table->readOnly) {
    Push(kErrTableNotWritable, table->name);
    Push(kErrIndexBuild);
    return 0;
  }
  const int width = KeyWidth(f);
  if (IndexKeyLength(f.value.kind, width, 1) == 0) {
    Push(kErrIndexBuild);
    return 0;
  }

  // The index file: made when the table has none, else opened for writing.
  IndexFile* file = table->indexes;
  const bool created = file == nullptr;
  if (created) {
    char name[kNameCapacity];
    char directory[kPathCapacity];
    bool named = CompanionName(table, name, directory);
    file = IndexFileCreate(named ? name : nullptr, named ? directory : nullptr, kFileKindIndex,
                           table->temporary || !named ? 1 : 0);
  } else if (!IndexFileAcquire(file, kFileModeWrite)) {
    file = nullptr;
  }
  if (!file) {
    Push(kErrIndexBuildWrite);
    Push(kErrIndexBuild);
    return 0;
  }
  if (created) {
    table->indexes = file;
    table->indexFile = file->file;
  }

  // A file made here stays open for the table, held by its first use, as one
  // opened with the table is; a file the table had goes back to its hold.
  auto dropNewFile = [&] {
    if (!created) {
      IndexFileRelease(file);
      return;
    }
    file->deleteOnClose = 1;
    IndexFileClose(file);
    table->indexes = nullptr;
    table->indexFile = 0;
  };

  const int number = IndexAdd(file, f.value.kind, width, unique);
  if (number <= 0) {
    Push(kErrIndexBuildEntry);
    Push(kErrIndexBuild);
    dropNewFile();
    return 0;
  }
  FieldIndex* index = FieldIndexNew(number, unique, f.value.kind, width, f.decimals);
  bool ok = index != nullptr;
  bool sourceOpen = false;
  if (ok) {
    sourceOpen = DataSourceOpen(&table->source, kFileModeRead) != 0;
    if (!sourceOpen) {
      Push(kErrIndexBuildSource);
      ok = false;
    }
  }
  if (ok && table->source.rowCount > 0) {
    const uint16_t errors = ErrorCount();
    ok = BuildFromRows(table, field, file, index);
    // The file level refuses a repeated key of a unique index silently.
    if (!ok && unique && ErrorCount() == errors) Push(kErrIndexUnique, f.name);
  }
  if (sourceOpen) DataSourceRelease(&table->source);
  if (ok) {
    f.index = index;
    if (table->defFile > 0 && !BelongsToRemoteJoin(table) && !TableDefWrite(table)) {
      f.index = nullptr;
      ok = false;
    }
  }
  if (!ok) {
    IndexDrop(file, number);
    FieldIndexFree(&index);
    dropNewFile();
    Push(kErrIndexBuild);
    return 0;
  }
  if (created) {
    IndexFileFlush(file);
  } else {
    IndexFileRelease(file);
  }
  if (fileOut) *fileOut = file;
  if (indexOut) *indexOut = index;
  return 1;
}

int16_t FieldIndexDrop(TableObject* table, uint32_t field) {
  if (!table || field >= table->fieldCount) {
    Push(kErrBadField);
    return 0;
  }
  FieldDef& f = table->fields[field];
  if (!f.index) return 1;
  IndexFile* file = table->indexes;
  if (!file || !IndexFileAcquire(file, kFileModeWrite)) {
    Push(kErrIndexBuildWrite);
    return 0;
  }
  int16_t ok = IndexDrop(file, f.index->number);
  IndexFileRelease(file);
  if (!ok) return 0;
  FieldIndexFree(&f.index);
  if (!TableHasIndexes(table)) {
    file->deleteOnClose = 1;
    IndexFileClose(file);
    table->indexes = nullptr;
    table->indexFile = 0;
  }
  return 1;
}

int16_t TableHasIndexes(const TableObject* table) {
  if (!table || !table->fields) return 0;
  for (uint32_t i = 0; i < table->fieldCount; ++i)
    if (table->fields[i].index) return 1;
  return 0;
}

int16_t FieldIndexFindFirst(TableObject* table, uint32_t field, const Value* value,
                            uint32_t* row) {
  *row = 0;
  if (!table || field >= table->fieldCount) {
    Push(kErrBadField);
    return 0;
  }
  FieldIndex* index = table->fields[field].index;
  if (!index && !FieldIndexCreate(table, field, 0, nullptr, &index)) return 0;
  IndexFile* file = table->indexes;
  if (!file || !IndexFileAcquire(file, kFileModeRead)) return 0;
  // A probe of its own on the same tree: the seek moves only the entry's
  // cursor words, which are put back afterwards.
  FieldIndex probe;
  std::memset(&probe, 0, sizeof probe);
  probe.number = index->number;
  bool ok = IndexKeyInitForField(&probe.key, index->key.type, index->key.width) != 0;
  if (ok) {
    probe.key.decimals = index->key.decimals;
    IndexEntry& entry = file->entries[index->number - 1];
    const uint32_t page = entry.cursorPage;
    const uint32_t position = entry.cursorPosition;
    const uint16_t errors = ErrorCount();
    if (SeekEqual(file, &probe, value)) {
      *row = probe.key.row;
    } else {
      ok = ErrorCount() == errors;
    }
    entry.cursorPage = page;
    entry.cursorPosition = position;
  }
  IndexKeyFree(&probe.key);
  IndexFileRelease(file);
  return ok ? 1 : 0;
}

void IndexSearchCacheFree(TableObject* view) {
  SearchCache* cache = CacheOf(view, false);
  if (!cache) return;
  void* element = nullptr;
  while (ListPop(&cache->entries, &element, 0)) {
    auto* entry = static_cast<CachedIndex*>(element);
    FieldIndexFree(&entry->index);
    MemFree(entry->expr);
    MemFree(entry);
  }
  if (cache->file) {
    cache->file->deleteOnClose = 1;
    IndexFileClose(cache->file);
  }
  MemFree(cache);
  view->searchCache = nullptr;
}

void TableIndexesClose(TableObject* table) {
  if (!table) return;
  for (uint32_t i = 0; table->fields && i < table->fieldCount; ++i)
    FieldIndexFree(&table->fields[i].index);
  if (table->indexes) {
    IndexFileClose(table->indexes);
    table->indexes = nullptr;
    table->indexFile = 0;
  }
  IndexSearchCacheFree(table);
}

// ===== keeping the indexes in step with the rows ====================================

int16_t TableIndexesInsertRow(TableObject* table, const FieldDef* fields, uint32_t row) {
  if (!TableHasIndexes(table)) return 1;
  IndexFile* file = table->indexes;
  if (!file || !IndexFileAcquire(file, kFileModeWrite)) {
    Push(kErrIndexBuildWrite);
    return 0;
  }
  const uint16_t errors = ErrorCount();
  uint32_t done = 0;
  bool ok = true;
  for (; done < table->fieldCount; ++done) {
    FieldIndex* index = table->fields[done].index;
    if (index && !IndexInsert(file, index, &fields[done].value, row)) {
      if (index->unique && ErrorCount() == errors) Push(kErrIndexUnique, table->fields[done].name);
      ok = false;
      break;
    }
  }
  // A refused key (a unique index) leaves none of the row's keys behind.
  if (!ok) {
    for (uint32_t i = 0; i < done; ++i) {
      FieldIndex* index = table->fields[i].index;
      if (index) IndexDelete(file, index, &fields[i].value, row);
    }
  }
  IndexFileRelease(file);
  return ok ? 1 : 0;
}

int16_t TableIndexesDeleteRow(TableObject* table, const FieldDef* fields, uint32_t row) {
  if (!TableHasIndexes(table)) return 1;
  IndexFile* file = table->indexes;
  if (!file || !IndexFileAcquire(file, kFileModeWrite)) {
    Push(kErrIndexBuildWrite);
    return 0;
  }
  bool ok = true;
  for (uint32_t i = 0; i < table->fieldCount; ++i) {
    FieldIndex* index = table->fields[i].index;
    if (index && !IndexDelete(file, index, &fields[i].value, row)) ok = false;
  }
  IndexFileRelease(file);
  return ok ? 1 : 0;
}

// ===== search plans ===============================================================

int16_t IndexSearchPrepare(TableObject* view, const uint8_t* condition, int flags,
                           IndexSearchState* state, uint32_t* count) {
  std::memset(state, 0, sizeof *state);
  if (count) *count = 0;
  if (!view || !condition) {
    Push(kErrBadField);
    return 0;
  }
  state->view = view;
  uint32_t field = 0;
  uint8_t part = 0;
  const bool columnRef = ExprIsColumnRef(condition, &field, &part) &&
                         condition[1] == kClassColumn && part < PartCount(view) &&
                         field < PartTable(view, part)->fieldCount;
  TableObject* base = columnRef ? PartTable(view, part) : nullptr;
  int plan = 1;
  if (!(flags & kSearchNoIndex) && columnRef && base->source.kind != kDataRemote) {
    const bool plain = view->partCount == 0 || view->joinKind == kJoinNone;
    const bool lastOfChain = view->joinKind == kJoinChained && part == view->partCount - 1;
    if (plain || lastOfChain) {
      plan = 2;
    } else {
      const uint32_t baseRows = base->source.rowCount;
      const uint32_t viewRows = TableRowCount(view);
      const bool few = viewRows > 0 ? baseRows / viewRows < kBaseRowsPerViewRow
                                    : baseRows < kBaseRowsPerViewRow;
      plan = few ? 3 : 1;
    }
  }

  bool ok = true;
  if (plan == 1) {
    CachedIndex* entry = ExprIndexFind(view, condition, flags & ~kSearchCount);
    SearchCache* cache = CacheOf(view, false);
    ok = entry && cache && IndexFileAcquire(cache->file, kFileModeRead);
    if (ok) {
      state->file = cache->file;
      state->index = entry->index;
      state->keys = entry->keys;
    }
  } else {
    FieldIndex* index = nullptr;
    IndexFile* file = nullptr;
    ok = FieldIndexCreate(base, field, 0, &file, &index) != 0;
    if (ok && plan == 3 && view->joinKind == kJoinChained) {
      for (uint32_t i = part; ok && i + 1 < view->partCount; ++i) ok = LinkIndex(view, i) != nullptr;
    }
    if (ok && plan == 3 && view->joinKind == kJoinTuple) {
      ok = TupleIndexFind(view, part) != nullptr;
    }
    ok = ok && IndexFileAcquire(file, kFileModeRead);
    if (ok) {
      state->file = file;
      state->index = index;
      state->base = base;
      state->plan = plan;
      if (plan == 3 && !TranslationFiles(state, false)) {
        IndexFileRelease(file);
        ok = false;
      }
    }
  }
  if (!ok) {
    std::memset(state, 0, sizeof *state);
    return 0;
  }
  state->plan = plan;
  if (plan != 1 && (flags & kSearchCount) && count) state->keys = CountEntries(state->file, state->index);
  if (count) *count = state->keys;
  return 1;
}

int16_t IndexSearch(IndexSearchState* state, int move, const Value* key, uint32_t* row) {
  *row = 0;
  if (!state || state->plan == 0 || !state->file || !state->index) return 0;
  if ((move == kIndexSeek || move == kIndexSeekAfterEqual) && !key) {
    Push(kErrBadField);
    return 0;
  }
  if (state->plan == 3) return BaseSearch(state, move, key, row);
  FieldIndex* index = state->index;
  bool on;
  if (move == kIndexSeek) {
    on = SeekEqual(state->file, index, key);
  } else if (move == kIndexNextEqual) {
    on = NextEqual(state->file, index);
  } else {
    if (move == kIndexSeekAfterEqual &&
        !IndexKeyMake(key, &index->key, index->key.decimals, state->file->stamp)) {
      return 0;
    }
    on = IndexMoveCursor(state->file, index, move, nullptr) && index->key.row != 0;
  }
  if (!on) return 0;
  *row = index->key.row;
  return 1;
}

void IndexSearchEnd(IndexSearchState* state) {
  if (!state) return;
  if (state->plan == 3) TranslationFiles(state, true);
  if (state->plan != 0 && state->file) IndexFileRelease(state->file);
  std::memset(state, 0, sizeof *state);
}

}  // namespace layerio
