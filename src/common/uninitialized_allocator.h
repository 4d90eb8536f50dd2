// Vectors whose new elements are left as their type leaves them (no zeroes for integers): a
// buffer that is about to be written in full, a decoded picture or an extracted entry, then
// costs no pass over its memory before it is written.
#ifndef QUENVALE_COMMON_UNINITIALIZED_ALLOCATOR_H_
#define QUENVALE_COMMON_UNINITIALIZED_ALLOCATOR_H_

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace quenvale {

template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Such a vector equals a plain one of the same values.
template <typename T>
bool operator==(const std::vector<T, UninitializedAllocator<T>>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}
template <typename T>
bool operator==(const std::vector<T>& a, const std::vector<T, UninitializedAllocator<T>>& b) {
  return b == a;
}

}  // namespace quenvale

#endif  // QUENVALE_COMMON_UNINITIALIZED_ALLOCATOR_H_
