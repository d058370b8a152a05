// Content materialisation: an entry's bytes are measured when it is listed
// and produced into one process-heap block when it is extracted. Every
// operation works on the entry's final target (the end of its alias chain).
#include "plugin/module.h"
#include "render/render.h"

namespace {

FileEntry* FinalTarget(FileEntry* entry) {
  while (entry->target != nullptr) entry = entry->target;
  return entry;
}

}  // namespace

DWORD MaterialiseContent(FileEntry* entry, DWORD* slot) {
  FileEntry* target = FinalTarget(entry);
  // A measurement of an entry whose block already holds its bytes takes the
  // count from the block. Reading a stream again through the same record
  // continues where the first read stopped and would report too little.
  if (slot == nullptr && target->content.data != nullptr) {
    target->size = target->content.length;
    return ERROR_SUCCESS;
  }

  DWORD count = 0;
  DWORD result = ERROR_SUCCESS;
  switch (target->kind) {
    case SummaryInfo:
      result = RenderSummaryCsv(target, &count);
      break;
    case TableCsv:
      result = RenderTableCsv(target, &count);
      break;
    case StreamCell: {
      if (target->table == nullptr || target->table->streamColumn < 0) {
        return ERROR_NOT_SUPPORTED;
      }
      const UINT field = static_cast<UINT>(target->table->streamColumn + 1);
      if (target->content.data != nullptr) {
        count = target->size;
        result = MsiRecordReadStream(target->record, field,
                                     reinterpret_cast<char*>(target->content.data),
                                     &count);
        // Never trust a count beyond the block we handed over.
        if (result == ERROR_SUCCESS && count > target->size) count = target->size;
      } else {
        count = MsiRecordDataSize(target->record, field);
      }
      break;
    }
    default:
      return ERROR_NOT_SUPPORTED;
  }
  if (result != ERROR_SUCCESS) return result;
  if (slot != nullptr) {
    *slot = count;
  } else {
    target->size = count;
  }
  return ERROR_SUCCESS;
}

DWORD PrepareContent(FileEntry* entry) {
  FileEntry* target = FinalTarget(entry);
  if (target->content.length >= target->size) return ERROR_SUCCESS;
  FreeContent(&target->content);
  BYTE* block = static_cast<BYTE*>(
      HeapAlloc(processHeap, HEAP_ZERO_MEMORY, target->size));
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  target->content.data = block;
  target->content.length = target->size;
  const DWORD result = MaterialiseContent(target, &target->content.length);
  // A block that could not be filled is not content: drop it, so that the
  // next extraction tries again instead of writing zeros as success.
  if (result != ERROR_SUCCESS) FreeContent(&target->content);
  return result;
}

Content& GetContent(FileEntry* entry) { return FinalTarget(entry)->content; }

DWORD GetContentSize(FileEntry* entry) { return FinalTarget(entry)->size; }

void FreeContent(Content* content) {
  if (content->data != nullptr) HeapFree(processHeap, 0, content->data);
  content->data = nullptr;
  content->length = 0;
}
