#pragma once
// Maps the 32-bit handles of the C interface to live objects. Any thread; one mutex guards the
// map. Objects are shared so a call in progress keeps its object alive while another thread
// closes the handle.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace vxav {

// One counter for every table, so a handle of one kind never names an object of another.
inline std::int32_t NextHandle() {
  static std::atomic<std::int32_t> next{0};
  std::int32_t value = ++next;
  if (value >= 0x7FFFFFF0) {
    next = 1;
    value = 1;
  }
  return value;
}

template <typename T>
class HandleTable {
 public:
  // A new handle, never -1 or 0, not reused while the process lives (until it wraps).
  std::int32_t Add(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::int32_t handle = NextHandle();
    while (m_objects.count(handle) != 0) handle = NextHandle();
    m_objects[handle] = std::move(object);
    return handle;
  }
  std::shared_ptr<T> Find(std::int32_t handle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_objects.find(handle);
    return it == m_objects.end() ? nullptr : it->second;
  }
  std::shared_ptr<T> Remove(std::int32_t handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_objects.find(handle);
    if (it == m_objects.end()) return nullptr;
    auto object = std::move(it->second);
    m_objects.erase(it);
    return object;
  }

 private:
  mutable std::mutex m_mutex;
  std::map<std::int32_t, std::shared_ptr<T>> m_objects;
};

}  // namespace vxav
