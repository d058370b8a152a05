// libFuzzer entry: the engine over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/native/engine_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msiarc::testing::DriveEngine(data, size);
  return 0;
}
