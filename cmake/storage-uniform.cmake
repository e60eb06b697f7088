# Subsystem 3: the uniform partitioned store, and the partition-file naming it shares with
# the contiguous store.
add_library(wdbkc_uni STATIC
  src/wdb/kc/partfile.cpp
  src/wdb/kc/SKV_UniMKCStg.cpp)
target_include_directories(wdbkc_uni PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wdbkc_uni PUBLIC wdbkc toka::hashkit)
