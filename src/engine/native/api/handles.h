// The handle table: 32-bit handles (0 = none) to reference-counted objects
// of four kinds. Lookups hand out a shared reference, so an object stays
// alive while a call uses it even if another thread closes the handle.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace msiarc::engine {

enum class Kind : uint8_t { Database, View, Record, Summary };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  const Kind kind;
};

class HandleTable {
 public:
  // 0 when no handle can be had.
  uint32_t Add(std::shared_ptr<Object> object);
  std::shared_ptr<Object> Get(uint32_t handle, Kind kind);
  bool Close(uint32_t handle);

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<Object>> slots_;
  std::vector<uint32_t> free_;
};

HandleTable& Handles();

template <typename T>
std::shared_ptr<T> Lookup(uint32_t handle) {
  return std::static_pointer_cast<T>(Handles().Get(handle, T::kKind));
}

}  // namespace msiarc::engine
