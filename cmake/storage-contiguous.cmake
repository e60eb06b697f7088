# Subsystem 3: the contiguous partitioned store (key-range partitions, meta database,
# background KeyMAX scan). The partition-file naming comes with the uniform store's library.
add_library(wdbkc_cont STATIC
  src/wdb/kc/SKV_ContMKCStg.cpp
  src/wdb/kc/SKV_ContMKCStg_priv.cpp)
target_include_directories(wdbkc_cont PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wdbkc_cont PUBLIC wdbkc_uni PkgConfig::THRIFT)
