// Content rendering: the bytes of an entry, measured when it is listed and
// produced, piece by piece, when it is tested or extracted. An entry shows
// the content of its final target (the end of its alias chain).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tree/tree.h"

// Where produced bytes go, in the order produced.
class ContentSink {
 public:
  // Takes the next `count` bytes (never 0). False stops the production.
  virtual bool Put(const BYTE* data, size_t count) = 0;

 protected:
  ~ContentSink() = default;
};

// ProduceContent's answers besides 0 and the engine's codes.
constexpr DWORD kContentShort = 38;      // ERROR_HANDLE_EOF: fewer bytes than listed
constexpr DWORD kContentStopped = 1223;  // ERROR_CANCELLED: the sink said stop

// Pieces handed to a sink are at least this long, but for an entry's last.
// A stream's pieces are no longer: a buffer that stays in the processor's
// cache between the read and the write costs less than fewer, larger calls.
constexpr size_t kTextPieceBytes = 256 * 1024;
constexpr size_t kStreamPieceBytes = 256 * 1024;
// The text of the entry listed last is kept when it is at most this long,
// so that its extraction need not render it again. Only under msi.dll,
// where rendering costs a record per row: the native engine measures a
// table from its cells in place, for less than keeping its text would cost.
#ifdef _WIN32
constexpr size_t kKeptTextBytes = 16 * 1024 * 1024;
#else
constexpr size_t kKeptTextBytes = 0;
#endif

// Measures the entry's final target unless its size is known. 0, or the
// renderer's or engine's code (50 for a table that has no text form: it
// lists and extracts as an empty file).
DWORD MeasureContent(MsiArchive* archive, FileEntry* entry);
DWORD GetContentSize(FileEntry* entry);
// Produces the entry's content into the sink: exactly its listed size, in
// pieces of kTextPieceBytes or more but the last. 0 when every byte was
// produced; kContentShort when fewer came (those were produced);
// kContentStopped when the sink said stop; any other code when the content
// cannot be produced (the bytes before the failure were produced).
DWORD ProduceContent(MsiArchive* archive, FileEntry* entry, ContentSink& sink);
// Releases what producing content holds in the archive.
void ClearContent(MsiArchive* archive);

// Where CSV text goes: counted only, or written into a bounded buffer that
// is handed to a sink each time it fills (and once at the end, Finish).
class CsvOutput {
 public:
  // A buffer holds at least this many bytes.
  static constexpr size_t kMinimumCapacity = 16;

  CsvOutput() = default;  // counting
  CsvOutput(BYTE* buffer, size_t capacity, ContentSink* sink, bool countWhenStopped)
      : buffer_(buffer), capacity_(capacity), sink_(sink), countWhenStopped_(countWhenStopped) {}
  CsvOutput(const CsvOutput&) = delete;
  CsvOutput& operator=(const CsvOutput&) = delete;

  // Bytes produced so far, handed over or not.
  uint64_t count() const { return done_ + used_; }
  // The sink said stop: nothing more is worth producing.
  bool stopped() const { return stopped_; }

  void ByteOrderMark();
  void LineEnd();
  // A field in double quotes, a quote inside it doubled, preceded by a
  // comma when separated; the text in UTF-8, as WideCharToMultiByte
  // converts it (an unpaired surrogate becomes U+FFFD).
  // Unit is WCHAR, or uint8_t for ASCII text held as bytes.
  template <typename Unit>
  void Field(const Unit* text, size_t length, bool separated);
  // The decimal text of a value, as "%i" writes it.
  void Integer(int value, bool separated);
  // Hands what is buffered to the sink; false when it said stop.
  bool Finish();

 private:
  bool Room(size_t bytes);  // flushes until `bytes` fit; false when stopped
  void Literal(const BYTE* bytes, size_t count);
  void Flush();
  void Put(BYTE value) { buffer_[used_++] = value; }
  template <typename Unit>
  void SlowText(const Unit* text, size_t length);

  BYTE* buffer_ = nullptr;  // null: counting
  size_t capacity_ = 0;
  size_t used_ = 0;
  uint64_t done_ = 0;  // bytes counted, or handed to the sink
  ContentSink* sink_ = nullptr;
  // When the sink says stop, go on counting (measuring while keeping the
  // text for as long as it fits) rather than stop.
  bool countWhenStopped_ = false;
  bool stopped_ = false;
};

// Whether an engine's answer means no memory could be had (8 or 14): the
// text is then not what the database holds, and is refused rather than
// shown shortened.
inline bool IsOutOfMemory(UINT code) { return code == 8 || code == 14; }

// The CSV length of a value: its UTF-8 bytes, plus one per double quote.
size_t EscapedUtf8Length(const WCHAR* text, size_t length);
// Writes the UTF-8 of text, each double quote doubled, to out (room for
// EscapedUtf8Length bytes); returns the bytes written.
size_t PutEscapedUtf8(const WCHAR* text, size_t length, BYTE* out);
// The same for ASCII text held as bytes, each below 0x80.
size_t EscapedUtf8Length(const uint8_t* text, size_t length);
size_t PutEscapedUtf8(const uint8_t* text, size_t length, BYTE* out);
// Digits and sign of a value, as "%i" writes it.
size_t IntegerTextLength(int value);

// The CSV writers. 0, or 50 for a table with rows and a column that has no
// text form, or 8 when no memory can be had for a cell; the output then
// holds what was rendered before.
DWORD RenderTableCsv(const TableInfo* table, CsvOutput& out);

struct SummaryPropertyName {
  UINT type;
  const WCHAR* name;  // null for ids without a name
};
extern const SummaryPropertyName SummaryPropertyNames[20];

DWORD RenderSummaryCsv(MSIHANDLE summary, CsvOutput& out);
DWORD FormatFileTime(WCHAR* buffer, FILETIME time);
