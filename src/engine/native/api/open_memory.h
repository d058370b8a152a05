// Opening a database from bytes in memory (the fuzz target uses it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/msi_api.h"

namespace msiarc::engine {

UINT OpenDatabaseFromMemory(const uint8_t* data, size_t size, MSIHANDLE* database);

}  // namespace msiarc::engine
