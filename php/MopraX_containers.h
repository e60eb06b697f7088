// The seven containers MopraX gives PHP scripts and the bodies of their PHP functions, as
// templates over the container type (one instance per container of the function table).
//
// The container types are MopraX's pooled standard containers (element storage and map
// nodes from the pooled allocator). Every body runs inside the exception guard of the
// convention layer: vector pop, get, set and map get, del throw std::out_of_range with the
// texts scripts see ("pop from empty vector", "vector index out of range", "key not found").
// Ownership: a vector owns its elements; push and set copy in, pop copies out into a new
// object the caller owns; get of a holder hands out the element itself (borrowed, looked
// up again by index on each use). Not thread-safe (the engine is single-threaded).
#ifndef TOKA_PHP_MOPRAX_CONTAINERS_H
#define TOKA_PHP_MOPRAX_CONTAINERS_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "php/php55_conv.h"
#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/mopra_containers.h"

namespace moprax {

using IntVector = mopra::int_vector;
using StringVector = mopra::string_vector;
using HolderVector = mopra::strholder_vector;
using IntStringMap = mopra::int_string_map;
using StringStringMap = mopra::string_string_map;
using StringIntMap = mopra::string_int_map;
using IntIntMap = mopra::int_int_map;

// How one element, key or value type crosses the boundary.
struct IntItem {
  static int arg(const php55::Call& c, int i) { return c.i32(i); }
  static void ret(php55::Call& c, const int& v) { c.ret_int(v); }
  static void ret_moved(php55::Call& c, int v) { c.ret_int(v); }
};

struct StringItem {
  static std::string arg(const php55::Call& c, int i) { return c.str(i); }
  static void ret(php55::Call& c, const std::string& v) { c.ret_view(v); }
  static void ret_moved(php55::Call& c, const std::string& v) { c.ret_str(v); }
};

struct HolderItem {
  static const mopra::StrHolder& arg(const php55::Call& c, int i) {
    return c.obj<mopra::StrHolder>(i);
  }
  static void ret_moved(php55::Call& c, mopra::StrHolder v) {
    c.ret_object(new mopra::StrHolder(std::move(v)));
  }
};

template <typename V, typename Item>
struct VectorFns {
  // Bounds of get and set: the size taken as a signed 32-bit number.
  static size_t checked(const V& v, int32_t index) {
    int32_t n = static_cast<int32_t>(v.size());
    if (index < 0 || index >= n) throw std::out_of_range("vector index out of range");
    return static_cast<size_t>(index);
  }

  static void create(php55::Call& c) {
    c.ret_object(c.argc() == 0 ? new V() : new V(static_cast<size_t>(c.count(0))));
  }
  static void size(php55::Call& c) { c.ret_int(static_cast<int64_t>(c.obj<V>(0).size())); }
  static void capacity(php55::Call& c) { c.ret_int(static_cast<int64_t>(c.obj<V>(0).capacity())); }
  static void reserve(php55::Call& c) { c.obj<V>(0).reserve(static_cast<size_t>(c.count(1))); }
  static void clear(php55::Call& c) { c.obj<V>(0).clear(); }
  static void push(php55::Call& c) { c.obj<V>(0).push_back(Item::arg(c, 1)); }
  static void is_empty(php55::Call& c) { c.ret_bool(c.obj<V>(0).empty()); }
  static void pop(php55::Call& c) {
    V& v = c.obj<V>(0);
    if (v.empty()) throw std::out_of_range("pop from empty vector");
    auto last = std::move(v.back());
    v.pop_back();
    Item::ret_moved(c, std::move(last));
  }
  static void get(php55::Call& c) {
    V& v = c.obj<V>(0);
    Item::ret(c, v[checked(v, c.i32(1))]);
  }
  static void set(php55::Call& c) {
    V& v = c.obj<V>(0);
    v[checked(v, c.i32(1))] = Item::arg(c, 2);
  }
};

// The holder vector's get hands out the element itself.
struct HolderVectorFns : VectorFns<HolderVector, HolderItem> {
  static void* element(void* container, uint32_t index) {
    HolderVector& v = *static_cast<HolderVector*>(container);
    return index < v.size() ? &v[index] : nullptr;
  }
  static void get(php55::Call& c) {
    HolderVector& v = c.obj<HolderVector>(0);
    c.ret_element(0, static_cast<uint32_t>(checked(v, c.i32(1))), &element);
  }
};

template <typename M, typename Key, typename Value>
struct MapFns {
  static void create(php55::Call& c) { c.ret_object(c.argc() == 0 ? new M() : new M(c.obj<M>(0))); }
  static void size(php55::Call& c) { c.ret_int(static_cast<int64_t>(c.obj<M>(0).size())); }
  static void clear(php55::Call& c) { c.obj<M>(0).clear(); }
  static void get(php55::Call& c) {
    M& m = c.obj<M>(0);
    auto it = m.find(Key::arg(c, 1));
    if (it == m.end()) throw std::out_of_range("key not found");
    Value::ret(c, it->second);
  }
  static void set(php55::Call& c) { c.obj<M>(0)[Key::arg(c, 1)] = Value::arg(c, 2); }
  static void del(php55::Call& c) {
    M& m = c.obj<M>(0);
    auto it = m.find(Key::arg(c, 1));
    if (it == m.end()) throw std::out_of_range("key not found");
    m.erase(it);
  }
  static void has_key(php55::Call& c) {
    M& m = c.obj<M>(0);
    c.ret_bool(m.find(Key::arg(c, 1)) != m.end());
  }
  static void is_empty(php55::Call& c) { c.ret_bool(c.obj<M>(0).empty()); }
};

}  // namespace moprax

#endif  // TOKA_PHP_MOPRAX_CONTAINERS_H
