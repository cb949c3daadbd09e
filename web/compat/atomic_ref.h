// std::atomic_ref for the emscripten release Debian ships, whose libc++ lacks
// it: loads and stores, all the engine uses, on the compiler's atomics.
#pragma once

#include <atomic>

#ifndef __cpp_lib_atomic_ref
namespace std {

template <class T>
class atomic_ref {
 public:
  explicit atomic_ref(T& object) : object_(&object) {}
  T load(memory_order order = memory_order_seq_cst) const {
    return __atomic_load_n(object_, static_cast<int>(order));
  }
  void store(T value, memory_order order = memory_order_seq_cst) const {
    __atomic_store_n(object_, value, static_cast<int>(order));
  }

 private:
  T* object_;
};

}  // namespace std
#endif
