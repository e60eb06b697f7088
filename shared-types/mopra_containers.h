// mopra_containers: the standard containers that MopraX's and MopraXJNI's own code builds
// and that the mopra functions take (shared-types/MopraX_impl.h).
//
// MopraX's build (MOPRA_PX_BUILD): every element and node comes from
//   mopra::pooled_allocator (shared-types/mopra_pooled_allocator.h); the strings
//   themselves are plain std::string.
// MopraXJNI's build (MOPRA_JNI_BUILD): the same names over std::allocator, i.e. exactly
//   std::vector<std::string>, std::map<int, std::string> and so on; it has no holder list.
// Thrift's generated records and maps keep std::allocator in both builds.
#ifndef TOKA_SHARED_TYPES_MOPRA_CONTAINERS_H
#define TOKA_SHARED_TYPES_MOPRA_CONTAINERS_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/mopra_build.h"

#ifdef MOPRA_PX_BUILD
#include "shared-types/mopra_pooled_allocator.h"
#endif

namespace mopra {

#ifdef MOPRA_PX_BUILD
template <typename T>
using container_allocator = pooled_allocator<T>;
#else
template <typename T>
using container_allocator = std::allocator<T>;
#endif

typedef std::vector<int, container_allocator<int>> int_vector;
typedef std::vector<std::string, container_allocator<std::string>> string_vector;
typedef std::map<int, std::string, std::less<int>,
                 container_allocator<std::pair<const int, std::string>>>
    int_string_map;
typedef std::map<std::string, std::string, std::less<std::string>,
                 container_allocator<std::pair<const std::string, std::string>>>
    string_string_map;
typedef std::map<std::string, int, std::less<std::string>,
                 container_allocator<std::pair<const std::string, int>>>
    string_int_map;
typedef std::map<int, int, std::less<int>, container_allocator<std::pair<const int, int>>>
    int_int_map;

#ifdef MOPRA_PX_BUILD
// MopraX only: the list of holders (held by value).
typedef std::vector<StrHolder, container_allocator<StrHolder>> strholder_vector;
#endif

}  // namespace mopra

#endif  // TOKA_SHARED_TYPES_MOPRA_CONTAINERS_H
