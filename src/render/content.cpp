// Content materialisation: an entry's bytes are measured when it is listed
// and produced into one process-heap block when it is extracted. Every
// operation works on the entry's final target (the end of its alias chain).
#include "archive/heap.h"
#include "render/render.h"

namespace {

FileEntry* FinalTarget(FileEntry* entry) {
  while (entry->target != nullptr) entry = entry->target;
  return entry;
}

bool HoldsItsBytes(const FileEntry* target) {
  return target->sized && target->content.length >= target->size;
}

// Measures (no block) or fills (the target's block) by the target's kind;
// the byte count goes to `count`.
DWORD Render(FileEntry* target, DWORD* count) {
  switch (target->kind) {
    case SummaryInfo:
      return RenderSummaryCsv(target, count);
    case TableCsv:
      return RenderTableCsv(target, count);
    case StreamCell: {
      if (target->table == nullptr || target->table->streamColumn < 0) {
        return ERROR_NOT_SUPPORTED;
      }
      const UINT field = static_cast<UINT>(target->table->streamColumn + 1);
      if (target->content.data == nullptr) {
        *count = MsiRecordDataSize(target->record, field);
        return ERROR_SUCCESS;
      }
      *count = target->content.length;
      const DWORD result = MsiRecordReadStream(
          target->record, field, reinterpret_cast<char*>(target->content.data),
          count);
      // Never trust a count beyond the block we handed over.
      if (result == ERROR_SUCCESS && *count > target->content.length) {
        return ERROR_INVALID_DATA;
      }
      return result;
    }
    default:
      return ERROR_NOT_SUPPORTED;
  }
}

}  // namespace

DWORD MaterialiseContent(FileEntry* entry, DWORD* slot) {
  FileEntry* target = FinalTarget(entry);
  if (slot != nullptr) return Render(target, slot);

  // Measuring. A block that holds the whole content keeps its size (a
  // stream read again through the same record would continue where the
  // first read stopped); a block cut short is dropped and measured anew.
  if (target->content.data != nullptr) {
    if (HoldsItsBytes(target)) return ERROR_SUCCESS;
    FreeContent(&target->content);
  }
  DWORD count = 0;
  const DWORD result = Render(target, &count);
  if (result == ERROR_SUCCESS) {
    target->size = count;
    target->sized = true;
  } else if (result == ERROR_NOT_SUPPORTED) {
    // A table that cannot be shown as text is an empty file by design.
    target->sized = true;
  }
  return result;
}

DWORD PrepareContent(FileEntry* entry) {
  FileEntry* target = FinalTarget(entry);
  // Not measured at listing (no memory then, say): measure now, so that
  // the block gets the right size rather than none.
  if (!target->sized) {
    const DWORD result = MaterialiseContent(target, nullptr);
    if (result != ERROR_SUCCESS) return result;
  }
  if (target->content.length >= target->size) return ERROR_SUCCESS;
  FreeContent(&target->content);
  BYTE* block = static_cast<BYTE*>(
      HeapAlloc(processHeap, HEAP_ZERO_MEMORY, target->size));
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  target->content.data = block;
  target->content.length = target->size;
  DWORD result;
  try {
    result = MaterialiseContent(target, &target->content.length);
  } catch (...) {
    result = ERROR_NOT_ENOUGH_MEMORY;
  }
  // More than was measured: the database changed under us.
  if (result == ERROR_SUCCESS && target->content.length > target->size) {
    result = ERROR_INVALID_DATA;
  }
  // A block that could not be filled is not content: drop it, so that the
  // next extraction tries again instead of writing zeros as success. A block
  // filled short stays: its bytes are written, and the shortfall reported.
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
