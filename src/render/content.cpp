// Content: an entry's bytes are measured when it is listed and produced, a
// bounded piece at a time, each time it is tested or extracted. Nothing the
// size of an entry is ever held, but under msi.dll for the text of the
// entry listed last while it is small: measuring a table renders it, and its
// extraction then writes what was rendered instead of rendering it again.
//
// A stream is read through a record at most once from its start. The
// engine documents no way back to the start of a record's stream, and under
// Wine every record holding a stream shares one read position (set back to
// the start when such a record is fetched). So an entry reads its own
// record (an alias its own row of _Streams, not its target's record), and
// once that was read, or is found not to stand at its start, the entry's
// row is fetched afresh.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "archive/refcount.h"
#include "render/render.h"

struct ContentState {
  // The table whose view fetches rows afresh (holding a reference), and the
  // place of the row its next fetch gives.
  TableInfo* cursorTable = nullptr;
  uint32_t cursorRow = 0;
  // The text of the entry measured last, while it is small (one reference).
  struct Piece {
    std::unique_ptr<BYTE[]> bytes;
    size_t count;
  };
  FileEntry* kept = nullptr;
  std::vector<Piece> keptText;
  // The buffer every piece passes through on its way to a sink.
  std::unique_ptr<BYTE[]> buffer;
  // Producing content calls the host (through the sink), which may close
  // the archive meanwhile: the state then outlives the archive's hold on it
  // until the production ends.
  bool producing = false;
  bool orphaned = false;
};

namespace {

FileEntry* FinalTarget(FileEntry* entry) {
  while (entry->target != nullptr) entry = entry->target;
  return entry;
}

ContentState* StateOf(MsiArchive* archive) {
  if (archive->content == nullptr) archive->content = new (std::nothrow) ContentState();
  return archive->content;
}

// One buffer for every piece, made once at the largest piece's size: a
// buffer grown entry by entry would be new, unmapped memory each time.
// Pages untouched by small entries cost nothing.
BYTE* Buffer(ContentState* state) {
  constexpr size_t kBytes = std::max(kTextPieceBytes, kStreamPieceBytes);
  if (state->buffer == nullptr) state->buffer.reset(new (std::nothrow) BYTE[kBytes]);
  return state->buffer.get();
}

void DropKeptText(ContentState* state) {
  if (state->kept == nullptr) return;
  std::vector<ContentState::Piece>().swap(state->keptText);
  ReleaseEntry(state->kept);
  state->kept = nullptr;
}

void CloseCursor(ContentState* state) {
  if (state->cursorTable == nullptr) return;
  MsiViewClose(state->cursorTable->view);
  ReleaseTable(state->cursorTable);
  state->cursorTable = nullptr;
  state->cursorRow = 0;
}

void DestroyState(ContentState* state) {
  CloseCursor(state);
  DropKeptText(state);
  delete state;
}

// The answer to a production asked for while another is in progress.
constexpr DWORD kContentBusy = 170;  // ERROR_BUSY

DWORD Render(FileEntry* target, CsvOutput& out) {
  switch (target->kind) {
    case SummaryInfo:
      return RenderSummaryCsv(target->record, out);
    case TableCsv:
      return RenderTableCsv(target->table, out);
    default:
      return ERROR_NOT_SUPPORTED;
  }
}

// Keeps the text handed to it while it stays within kKeptTextBytes.
class KeepingSink final : public ContentSink {
 public:
  bool Put(const BYTE* data, size_t count) override {
    if (overflowed_ || kept_ + count > kKeptTextBytes) return Drop();
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[count]);
    if (bytes == nullptr) return Drop();
    std::copy(data, data + count, bytes.get());
    try {
      pieces_.push_back(ContentState::Piece{std::move(bytes), count});
    } catch (const std::bad_alloc&) {
      return Drop();
    }
    kept_ += count;
    return true;
  }
  bool overflowed() const { return overflowed_; }
  std::vector<ContentState::Piece>& pieces() { return pieces_; }

 private:
  bool Drop() {
    overflowed_ = true;
    std::vector<ContentState::Piece>().swap(pieces_);
    return false;
  }
  std::vector<ContentState::Piece> pieces_;
  size_t kept_ = 0;
  bool overflowed_ = false;
};

// Passes on at most `limit` bytes; what goes beyond is refused.
class LimitedSink final : public ContentSink {
 public:
  LimitedSink(ContentSink& next, uint64_t limit) : next_(next), left_(limit) {}
  bool Put(const BYTE* data, size_t count) override {
    const bool beyond = count > left_;
    const size_t passed = beyond ? static_cast<size_t>(left_) : count;
    if (passed != 0 && !next_.Put(data, passed)) {
      stopped_ = true;
      return false;
    }
    left_ -= passed;
    beyond_ |= beyond;
    return !beyond;
  }
  bool stopped() const { return stopped_; }
  bool beyond() const { return beyond_; }

 private:
  ContentSink& next_;
  uint64_t left_;
  bool stopped_ = false;
  bool beyond_ = false;
};

DWORD StoreSize(FileEntry* target, uint64_t count) {
  // A content length is 32-bit; a text that would not fit is refused rather
  // than listed with a wrapped size.
  if (count > 0xFFFFFFFFu) return ERROR_FILE_TOO_LARGE;
  target->size = static_cast<DWORD>(count);
  target->sized = true;
  return ERROR_SUCCESS;
}

DWORD MeasureText(ContentState* state, FileEntry* target) {
  BYTE* buffer =
      state != nullptr && kKeptTextBytes != 0 ? Buffer(state) : nullptr;
  if (buffer == nullptr) {
    CsvOutput counting;
    const DWORD result = Render(target, counting);
    return result == ERROR_SUCCESS ? StoreSize(target, counting.count()) : result;
  }
  KeepingSink keeping;
  CsvOutput out(buffer, kTextPieceBytes, &keeping, true);
  const DWORD result = Render(target, out);
  out.Finish();
  if (result != ERROR_SUCCESS) return result;
  const DWORD stored = StoreSize(target, out.count());
  if (stored == ERROR_SUCCESS && !keeping.overflowed()) {
    TakeReference(&target->refCount);
    state->kept = target;
    state->keptText.swap(keeping.pieces());
  }
  return stored;
}

DWORD ProduceText(ContentState* state, FileEntry* target, ContentSink& sink) {
  LimitedSink limited(sink, target->size);
  uint64_t produced = 0;
  DWORD result = ERROR_SUCCESS;
  if (state->kept == target) {
    for (const ContentState::Piece& piece : state->keptText) {
      if (!limited.Put(piece.bytes.get(), piece.count)) break;
      produced += piece.count;
    }
  } else {
    BYTE* buffer = Buffer(state);
    if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    CsvOutput out(buffer, kTextPieceBytes, &limited, false);
    result = Render(target, out);
    out.Finish();
    produced = out.count();
  }
  if (limited.stopped()) return kContentStopped;
  if (result != ERROR_SUCCESS) return result;
  // More than was measured: the database changed under us.
  if (limited.beyond()) return ERROR_INVALID_DATA;
  return produced < target->size ? kContentShort : ERROR_SUCCESS;
}

bool SameRow(MSIHANDLE a, MSIHANDLE b, const TableInfo* table) {
  WString left;
  WString right;
  for (size_t c = 0; c < table->columns.size(); ++c) {
    if (table->columns[c].kind == ColumnKind::Stream) continue;
    const UINT column = static_cast<UINT>(c);
    if (!ReadRecordString(a, column, left) || !ReadRecordString(b, column, right) ||
        left != right) {
      return false;
    }
  }
  return true;
}

// The entry's row, fetched afresh: the next rows of the cursor's view, or
// the view executed anew when the row lies behind the cursor or in another
// table. The row must hold what the entry's record holds (every cell but
// the streams); should the rows come in another order now, the whole table
// is searched for it. 0 when it cannot be had.
MSIHANDLE FetchRowAgain(ContentState* state, FileEntry* entry) {
  TableInfo* table = entry->table;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 || state->cursorTable != table || state->cursorRow > entry->row) {
      CloseCursor(state);
      if (MsiViewExecute(table->view, 0) != ERROR_SUCCESS) return 0;
      TakeReference(&table->refCount);
      state->cursorTable = table;
    }
    MSIHANDLE record = 0;
    while (MsiViewFetch(table->view, &record) == ERROR_SUCCESS) {
      const uint32_t row = state->cursorRow++;
      if ((pass == 1 || row == entry->row) && SameRow(record, entry->record, table)) {
        return record;
      }
      MsiCloseHandle(record);
      record = 0;
      if (pass == 0 && row >= entry->row) break;
    }
  }
  CloseCursor(state);
  return 0;
}

// Whether nothing was read of the record's stream yet: under Wine asking
// for what remains also sets the shared position back to the start.
bool AtStart(MSIHANDLE record, UINT field, DWORD size) {
  DWORD remaining = 0;
  return MsiRecordReadStream(record, field, nullptr, &remaining) == ERROR_SUCCESS &&
         remaining == size;
}

DWORD ProduceStream(ContentState* state, FileEntry* entry, DWORD size, ContentSink& sink) {
  const TableInfo* table = entry->table;
  if (table == nullptr || table->streamColumn < 0) return ERROR_NOT_SUPPORTED;
  const UINT field = static_cast<UINT>(table->streamColumn + 1);
  if (entry->streamRead || !AtStart(entry->record, field, size)) {
    const MSIHANDLE fresh = FetchRowAgain(state, entry);
    if (fresh == 0) return ERROR_FUNCTION_FAILED;
    MsiCloseHandle(entry->record);
    entry->record = fresh;
    entry->streamRead = false;
    if (!AtStart(fresh, field, size)) return ERROR_INVALID_DATA;
  }
  BYTE* buffer = Buffer(state);
  if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  entry->streamRead = true;
  DWORD produced = 0;
  while (produced < size) {
    const DWORD wanted = size - produced < kStreamPieceBytes
                             ? size - produced
                             : static_cast<DWORD>(kStreamPieceBytes);
    DWORD count = wanted;
    const UINT result =
        MsiRecordReadStream(entry->record, field, reinterpret_cast<char*>(buffer), &count);
    if (result != ERROR_SUCCESS) return result;
    // Never trust a count beyond the buffer handed over.
    if (count > wanted) return ERROR_INVALID_DATA;
    if (count == 0) break;
    if (!sink.Put(buffer, count)) return kContentStopped;
    produced += count;
  }
  return produced < size ? kContentShort : ERROR_SUCCESS;
}

}  // namespace

DWORD MeasureContent(MsiArchive* archive, FileEntry* entry) {
  FileEntry* target = FinalTarget(entry);
  ContentState* state = StateOf(archive);
  // Listing from inside a progress callback measures without touching
  // what the production in progress uses.
  if (state != nullptr && state->producing) state = nullptr;
  // Only the entry listed last can be extracted: text kept for another one
  // is of no use any more.
  if (state != nullptr && state->kept != target) DropKeptText(state);
  if (target->sized) return ERROR_SUCCESS;
  DWORD result;
  if (target->kind == StreamCell) {
    if (target->table == nullptr || target->table->streamColumn < 0) {
      result = ERROR_NOT_SUPPORTED;
    } else {
      const UINT field = static_cast<UINT>(target->table->streamColumn + 1);
      result = StoreSize(target, MsiRecordDataSize(target->record, field));
    }
  } else {
    result = MeasureText(state, target);
  }
  // A table that cannot be shown as text is an empty file by design.
  if (result == ERROR_NOT_SUPPORTED) target->sized = true;
  return result;
}

DWORD GetContentSize(FileEntry* entry) { return FinalTarget(entry)->size; }

DWORD ProduceContent(MsiArchive* archive, FileEntry* entry, ContentSink& sink) {
  FileEntry* target = FinalTarget(entry);
  ContentState* state = StateOf(archive);
  if (state == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  // A host that asks for content from inside its own progress callback
  // would have the buffer handed to it overwritten: refused.
  if (state->producing) return kContentBusy;
  // Not measured at listing (no memory then, say): measure now.
  if (!target->sized) {
    const DWORD result = MeasureContent(archive, entry);
    if (result != ERROR_SUCCESS) return result;
  }
  if (target->size == 0) return ERROR_SUCCESS;
  struct Producing {
    ContentState* state;
    explicit Producing(ContentState* s) : state(s) { state->producing = true; }
    ~Producing() {
      state->producing = false;
      if (state->orphaned) DestroyState(state);
    }
  } producing(state);
  switch (target->kind) {
    case StreamCell:
      return ProduceStream(state, entry, target->size, sink);
    case SummaryInfo:
    case TableCsv:
      return ProduceText(state, target, sink);
    default:
      return ERROR_NOT_SUPPORTED;
  }
}

void ClearContent(MsiArchive* archive) {
  ContentState* state = archive->content;
  if (state == nullptr) return;
  archive->content = nullptr;
  if (state->producing) {
    state->orphaned = true;  // the production in progress destroys it
  } else {
    DestroyState(state);
  }
}
