#include "engine/native/api/handles.h"

namespace msiarc::engine {
namespace {
constexpr size_t kMaxHandles = 1u << 24;
}

uint32_t HandleTable::Add(std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!free_.empty()) {
    uint32_t index = free_.back();
    free_.pop_back();
    slots_[index] = std::move(object);
    return index + 1;
  }
  if (slots_.size() >= kMaxHandles) return 0;
  slots_.push_back(std::move(object));
  return static_cast<uint32_t>(slots_.size());
}

std::shared_ptr<Object> HandleTable::Get(uint32_t handle, Kind kind) {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle == 0 || handle > slots_.size()) return nullptr;
  const std::shared_ptr<Object>& slot = slots_[handle - 1];
  if (!slot || slot->kind != kind) return nullptr;
  return slot;
}

bool HandleTable::Close(uint32_t handle) {
  std::shared_ptr<Object> released;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (handle == 0 || handle > slots_.size() || !slots_[handle - 1]) return false;
    released = std::move(slots_[handle - 1]);
    free_.push_back(handle - 1);
  }
  return true;  // the object goes when its last user lets go
}

HandleTable& Handles() {
  // Destroyed when the library is unloaded, so a host that loads and unloads
  // the plug-in does not lose the table each time.
  static HandleTable table;
  return table;
}

}  // namespace msiarc::engine
