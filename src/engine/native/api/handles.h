// The handle table: 32-bit handles (0 = none) to objects of four kinds.
//
// A call pins the handle's slot for as long as it uses the object: pinning
// is one compare-and-swap on the slot, releasing one subtraction, and no
// lock is taken. Closing a handle makes it invalid at once; the object goes
// when the last call that pinned it lets go. Slots live in chunks that are
// never moved or freed, and closed slots are reused, most recent first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace msiarc::engine {

enum class Kind : uint8_t { Database, View, Record, Summary };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  const Kind kind;
};

class HandleTable {
 public:
  struct Slot {
    // The object's address, a closing flag and the number of calls using it.
    std::atomic<uint64_t> state{0};
    std::atomic<uint32_t> nextFree{0};
    uint32_t index = 0;  // the handle is index + 1
  };

  HandleTable() = default;
  ~HandleTable();
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // Takes the object; 0 (and the object deleted) when no handle can be had.
  uint32_t Add(std::unique_ptr<Object> object);
  // The object of a handle of that kind, pinned; null otherwise.
  Object* Pin(uint32_t handle, Kind kind, Slot** slot);
  void Unpin(Slot* slot);
  bool Close(uint32_t handle);

 private:
  static constexpr uint32_t kChunkBits = 12;
  static constexpr uint32_t kChunkSize = 1u << kChunkBits;
  static constexpr uint32_t kMaxChunks = 1u << 12;  // 16,777,216 handles
  static constexpr uint32_t kNone = 0xFFFFFFFF;

  Slot* SlotAt(uint32_t index) const;
  static uint32_t IndexOf(const Slot* slot) { return slot->index; }
  Slot* NewSlot(uint32_t* index);
  void Free(uint32_t index, Slot* slot, uint64_t state);

  std::atomic<Slot*> chunks_[kMaxChunks] = {};
  std::atomic<uint32_t> used_{0};               // slots ever handed out
  std::atomic<uint64_t> freeHead_{kNone};        // index, and a count against reuse races
};

HandleTable& Handles();

// A pinned object of one kind for the length of a call.
template <typename T>
class Pinned {
 public:
  explicit Pinned(uint32_t handle)
      : object_(static_cast<T*>(Handles().Pin(handle, T::kKind, &slot_))) {}
  ~Pinned() {
    if (object_ != nullptr) Handles().Unpin(slot_);
  }
  Pinned(const Pinned&) = delete;
  Pinned& operator=(const Pinned&) = delete;
  explicit operator bool() const { return object_ != nullptr; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }

 private:
  HandleTable::Slot* slot_ = nullptr;
  T* object_;
};

}  // namespace msiarc::engine
