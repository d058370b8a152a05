#include "engine/native/api/handles.h"

#include <new>
#include <thread>

namespace msiarc::engine {
namespace {

// A slot's state: the object's address in the low 48 bits (0 when the slot
// is free), the number of calls using it above, and the closing flag on top.
constexpr uint64_t kAddressMask = (uint64_t{1} << 48) - 1;
constexpr uint64_t kPinOne = uint64_t{1} << 48;
constexpr uint64_t kPinMask = uint64_t{0x7FFF} << 48;
constexpr uint64_t kClosing = uint64_t{1} << 63;
constexpr uint64_t kTagOne = uint64_t{1} << 32;

Object* ObjectOf(uint64_t state) { return reinterpret_cast<Object*>(state & kAddressMask); }

}  // namespace

HandleTable::~HandleTable() {
  for (std::atomic<Slot*>& c : chunks_) {
    Slot* chunk = c.load(std::memory_order_acquire);
    if (chunk == nullptr) continue;
    for (uint32_t i = 0; i < kChunkSize; ++i) delete ObjectOf(chunk[i].state.load());
    delete[] chunk;
  }
}

HandleTable::Slot* HandleTable::SlotAt(uint32_t index) const {
  if (index >= kMaxChunks * kChunkSize) return nullptr;
  Slot* chunk = chunks_[index >> kChunkBits].load(std::memory_order_acquire);
  return chunk == nullptr ? nullptr : &chunk[index & (kChunkSize - 1)];
}

HandleTable::Slot* HandleTable::NewSlot(uint32_t* index) {
  // Most recently freed first. The count in the head's upper half changes
  // with every pop, so a head that was popped and pushed back meanwhile is
  // not taken for the one read.
  uint64_t head = freeHead_.load(std::memory_order_acquire);
  while (static_cast<uint32_t>(head) != kNone) {
    Slot* slot = SlotAt(static_cast<uint32_t>(head));
    uint64_t next = ((head & ~uint64_t{0xFFFFFFFF}) + kTagOne) |
                    slot->nextFree.load(std::memory_order_relaxed);
    if (freeHead_.compare_exchange_weak(head, next, std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
      *index = static_cast<uint32_t>(head);
      return slot;
    }
  }
  uint32_t fresh = used_.load(std::memory_order_relaxed);
  do {
    if (fresh >= kMaxChunks * kChunkSize) return nullptr;
  } while (!used_.compare_exchange_weak(fresh, fresh + 1, std::memory_order_relaxed));
  std::atomic<Slot*>& chunk = chunks_[fresh >> kChunkBits];
  if (chunk.load(std::memory_order_acquire) == nullptr) {
    Slot* made = new (std::nothrow) Slot[kChunkSize];
    if (made == nullptr) return nullptr;  // this index is lost; later ones may still be had
    const uint32_t base = fresh & ~(kChunkSize - 1);
    for (uint32_t i = 0; i < kChunkSize; ++i) made[i].index = base + i;
    Slot* expected = nullptr;
    if (!chunk.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) delete[] made;
  }
  *index = fresh;
  return SlotAt(fresh);
}

void HandleTable::Free(uint32_t index, Slot* slot, uint64_t state) {
  slot->state.store(0, std::memory_order_release);
  uint64_t head = freeHead_.load(std::memory_order_relaxed);
  do {
    slot->nextFree.store(static_cast<uint32_t>(head), std::memory_order_relaxed);
  } while (!freeHead_.compare_exchange_weak(head, (head & ~uint64_t{0xFFFFFFFF}) | index,
                                            std::memory_order_release, std::memory_order_relaxed));
  delete ObjectOf(state);
}

uint32_t HandleTable::Add(std::unique_ptr<Object> object) {
  const uint64_t address = reinterpret_cast<uintptr_t>(object.get());
  if (address == 0 || (address & ~kAddressMask) != 0) return 0;
  uint32_t index = 0;
  Slot* slot = NewSlot(&index);
  if (slot == nullptr) return 0;
  slot->state.store(address, std::memory_order_release);
  object.release();
  return index + 1;
}

Object* HandleTable::Pin(uint32_t handle, Kind kind, Slot** pinned) {
  Slot* slot = handle == 0 ? nullptr : SlotAt(handle - 1);
  if (slot == nullptr) return nullptr;
  uint64_t state = slot->state.load(std::memory_order_acquire);
  for (;;) {
    if ((state & kAddressMask) == 0 || (state & kClosing) != 0) return nullptr;
    if ((state & kPinMask) == kPinMask) {  // 32,767 calls at once: wait for one to end
      std::this_thread::yield();
      state = slot->state.load(std::memory_order_acquire);
      continue;
    }
    if (slot->state.compare_exchange_weak(state, state + kPinOne, std::memory_order_acquire,
                                          std::memory_order_acquire)) {
      break;
    }
  }
  Object* object = ObjectOf(state);
  if (object->kind != kind) {
    Unpin(slot);
    return nullptr;
  }
  *pinned = slot;
  return object;
}

void HandleTable::Unpin(Slot* slot) {
  uint64_t state = slot->state.fetch_sub(kPinOne, std::memory_order_acq_rel) - kPinOne;
  // The last call on a handle closed meanwhile frees it.
  if ((state & kClosing) != 0 && (state & kPinMask) == 0) Free(IndexOf(slot), slot, state);
}

bool HandleTable::Close(uint32_t handle) {
  Slot* slot = handle == 0 ? nullptr : SlotAt(handle - 1);
  if (slot == nullptr) return false;
  uint64_t state = slot->state.load(std::memory_order_acquire);
  do {
    if ((state & kAddressMask) == 0 || (state & kClosing) != 0) return false;
  } while (!slot->state.compare_exchange_weak(state, state | kClosing, std::memory_order_acq_rel,
                                              std::memory_order_acquire));
  if ((state & kPinMask) == 0) Free(handle - 1, slot, state);
  return true;
}

HandleTable& Handles() {
  // Destroyed when the library is unloaded, so a host that loads and unloads
  // the plug-in does not lose the table each time.
  static HandleTable table;
  return table;
}

}  // namespace msiarc::engine
