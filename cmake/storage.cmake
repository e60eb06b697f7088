# Subsystem 3: partitioned key-value storage.

# Kyoto Cabinet extensions: snappy and LZF compressors and the polymorphic open that
# selects them ("zcomp", "zthrh").
add_library(kcext STATIC
  kcext/kccompress_record.cpp
  kcext/kccompress_snappy.cpp
  kcext/kccompress_lzf.cpp
  kcext/kcpolydb_ext.cpp)
target_include_directories(kcext PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kcext PUBLIC PkgConfig::KYOTO PRIVATE PkgConfig::SNAPPY PkgConfig::LZF)

# Reference-counted objects and the notification interface (also used by the queue).
add_library(wdbnotif STATIC src/wdb/INotification.cpp)
target_include_directories(wdbnotif PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wdbnotif PUBLIC xfoundation)

# Storage interfaces, typed adapter, key comparators, the one-database store, file utilities.
add_library(wdbkc STATIC
  src/wdb/kc/ISKVStorage.cpp
  src/wdb/kc/TSKVAdapterStorage.cpp
  src/wdb/kc/KComparator.cpp
  src/wdb/kc/SKV_KCStg.cpp
  src/wdb/kc/fileutil.cpp)
target_include_directories(wdbkc PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wdbkc PUBLIC kcext wdbnotif mopra_enums Poco::Foundation Poco::Util)
