# Subsystem 4, table part: the item handles, entry pool, key locks and the LRU table of
# the cache (header-only templates under mopralib/inc/xds).
#   tessix_table  INTERFACE: the repository root on the include path and what the
#                 templates call (pooled allocator, enum numbers, Poco mutexes, libhashkit).
# Sanitizer builds turn on the lock-order checks (mopralib/inc/xds/xlock_order.h) for every
# user of the target, so the whole binary agrees on them.
add_library(tessix_table INTERFACE)
target_include_directories(tessix_table INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tessix_table INTERFACE xfoundation mopra_enums Poco::Foundation toka::hashkit)
if(TOKA_SANITIZE)
  target_compile_definitions(tessix_table INTERFACE TOKA_LOCK_CHECKS)
endif()
