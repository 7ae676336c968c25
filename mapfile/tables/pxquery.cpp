// The query-definition exports: PXGetQueryInfo reads a query definition (its
// "Open Table" clauses and its view) into records the caller frees with
// PXFreeQueryInfo.
#include <cstdlib>
#include <cstring>

#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"

using layerio::InitCall;
using layerio::Unguarded;

namespace {

// Frees the collection block's arrays and closes the base tables' definitions.
void CollectFree(layerio::QueryCollect* block) {
  for (uint32_t i = 0; i < block->tableCount; ++i) {
    layerio::TableObject* table = block->tableDefs ? block->tableDefs[i] : nullptr;
    if (!table) continue;
    layerio::FileHandle file = table->defFile;
    table->defFile = 0;
    layerio::TableClose(table);
    layerio::FileRelease(file);
  }
  layerio::MemFree(block->tables);
  layerio::MemFree(block->tableDefs);
  layerio::MemFree(block->columns);
  layerio::MemFree(block->conditions);
  std::memset(block, 0, sizeof *block);
}

// Collection mode for one read; the block is emptied and the mode ended
// however the read ends.
class CollectScope {
 public:
  CollectScope() {
    layerio::InterfaceState& s = layerio::Interface();
    std::memset(&block_, 0, sizeof block_);
    savedBlock_ = s.queryBlock;
    savedMode_ = s.queryCollect;
    s.queryBlock = &block_;
    s.queryCollect = 1;
  }
  ~CollectScope() {
    End();
    CollectFree(&block_);
  }
  CollectScope(const CollectScope&) = delete;
  CollectScope& operator=(const CollectScope&) = delete;

  void End() {
    layerio::InterfaceState& s = layerio::Interface();
    s.queryBlock = savedBlock_;
    s.queryCollect = savedMode_;
  }
  const layerio::QueryCollect& block() const { return block_; }

 private:
  layerio::QueryCollect block_;
  void* savedBlock_;
  uint32_t savedMode_;
};

template <class T>
T* CopyArray(const T* from, uint32_t count) {
  T* to = static_cast<T*>(std::calloc(count ? count : 1, sizeof(T)));
  if (to && count) std::memcpy(to, from, sizeof(T) * count);
  return to;
}

PXQueryInfo* MakeInfo(const layerio::QueryCollect& block) {
  auto* info = static_cast<PXQueryInfo*>(std::calloc(1, sizeof(PXQueryInfo)));
  if (!info) return nullptr;
  info->tableCount = block.tableCount;
  info->columnCount = block.columnCount;
  info->tables = CopyArray(block.tables, block.tableCount);
  info->columns = CopyArray(block.columns, block.columnCount);
  // One condition fewer than tables; the reader has checked the count.
  uint32_t conditions = block.tableCount ? block.tableCount - 1 : 0;
  info->conditions = static_cast<PXQueryCondition*>(
      std::calloc(conditions ? conditions : 1, sizeof(PXQueryCondition)));
  if (info->conditions && conditions && block.conditions) {
    uint32_t n = block.conditionCount < conditions ? block.conditionCount : conditions;
    std::memcpy(info->conditions, block.conditions, sizeof(PXQueryCondition) * n);
  }
  if (!info->tables || !info->columns || !info->conditions) {
    PXFreeQueryInfo(&info);
    return nullptr;
  }
  return info;
}

}  // namespace

// 114
LAYERIO_API void PXFreeQueryInfo(PXQueryInfo** info) {
  Unguarded(0, [&] {
    if (!info || !*info) return 0;
    std::free((*info)->tables);
    std::free((*info)->columns);
    std::free((*info)->conditions);
    std::free(*info);
    *info = nullptr;
    return 0;
  });
}

// 136
LAYERIO_API uint16_t PXGetQueryInfo(const char* path, PXQueryInfo** info) {
  return InitCall(uint16_t{0}, [&]() -> uint16_t {
    if (info) *info = nullptr;
    if (!path || !info) {
      layerio::ErrorPush(layerio::kErrorSeverity, layerio::kErrBadHandle, nullptr, nullptr);
      return 0;
    }
    if (layerio::FileTableFind(path, layerio::kFileKindTable)) {
      layerio::ErrorPush(layerio::kErrorSeverity, layerio::kErrDefAlreadyOpen, path, nullptr);
      return 0;
    }
    layerio::FileHandle file = layerio::FileTableAddName(path, layerio::kFileKindTable);
    if (!file) return 0;
    struct Entry {
      layerio::FileHandle file;
      ~Entry() { layerio::FileRelease(file); }
    } entry{file};

    CollectScope collect;
    layerio::TableObject* table = layerio::TableDefinitionOpen(file);
    collect.End();
    if (!table) return 0;
    table->defFile = 0;
    layerio::TableClose(table);
    *info = MakeInfo(collect.block());
    if (!*info) {
      layerio::ErrorPush(layerio::kErrorSeverity, layerio::kErrAllocFailed, nullptr, nullptr);
      return 0;
    }
    return 1;
  });
}
