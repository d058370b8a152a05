// Byte-level steps of the CSV writers, shared by the table and summary files.
#pragma once

#include "render/render.h"

// Bytes left before `end` (0 when measuring).
size_t CsvRoom(const CsvCursor& cursor);
// Counts one byte and writes it when it fits.
void PutCsvByte(CsvCursor& cursor, BYTE value);
// A cursor over an entry's block, or a counting one when it has none.
CsvCursor OpenCsvCursor(FileEntry* entry);
// The byte-order mark; the cursor then stands at byte 3 in both modes.
void BeginCsv(CsvCursor& cursor);
// CR LF, written only when both fit; counted in both modes.
void EndCsvLine(CsvCursor& cursor);
// Stores the byte count; refuses a text longer than a 32-bit length.
DWORD StoreCsvLength(const CsvCursor& cursor, DWORD* slot);
