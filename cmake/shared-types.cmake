# Subsystem 2, IDL part: the shared enumerations and records and the base RPC service.
#
# The .thrift files are compiled during the build into ${TOKA_IDL_GEN_DIR}/shared-types
# (never committed). Targets:
#   mopra_enums  header-only: the generated "shared-types/mopra_types.h" on the include
#                path, for code that needs only the enumeration numbers (mopra::ECode::type
#                and friends). Its enum structs need no Thrift symbols, so nothing links
#                Thrift through this target; only Thrift's headers are needed to compile.
#   mopra_idl    static: the generated types, the service (client, processor, factory) and
#                the hand-written constants units; links Thrift.
set(TOKA_IDL_GEN_DIR ${CMAKE_BINARY_DIR}/gen)
set(_idl_src ${CMAKE_CURRENT_SOURCE_DIR}/shared-types)
set(_idl_out ${TOKA_IDL_GEN_DIR}/shared-types)

add_custom_command(
  OUTPUT ${_idl_out}/mopra_types.h ${_idl_out}/mopra_types.cpp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_idl_out}
  COMMAND ${THRIFT_COMPILER} --gen cpp -out ${_idl_out} ${_idl_src}/mopra.thrift
  COMMAND ${CMAKE_COMMAND} -DHEADER=${_idl_out}/mopra_types.h -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ThriftEnumFix.cmake
  DEPENDS ${_idl_src}/mopra.thrift ${THRIFT_COMPILER} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ThriftEnumFix.cmake
  COMMENT "thrift: mopra.thrift"
  VERBATIM)
add_custom_command(
  OUTPUT ${_idl_out}/wservicebase_types.h ${_idl_out}/wservicebase_types.cpp
         ${_idl_out}/WServiceBase.h ${_idl_out}/WServiceBase.cpp
  # The server skeleton is an example for applications; it is not compiled.
  BYPRODUCTS ${_idl_out}/WServiceBase_server.skeleton.cpp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_idl_out}
  COMMAND ${THRIFT_COMPILER} --gen cpp -out ${_idl_out} ${_idl_src}/wservicebase.thrift
  COMMAND ${CMAKE_COMMAND} -DHEADER=${_idl_out}/wservicebase_types.h -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ThriftEnumFix.cmake
  DEPENDS ${_idl_src}/wservicebase.thrift ${THRIFT_COMPILER} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ThriftEnumFix.cmake
  COMMENT "thrift: wservicebase.thrift"
  VERBATIM)

set(_idl_gen_headers
  ${_idl_out}/mopra_types.h
  ${_idl_out}/wservicebase_types.h
  ${_idl_out}/WServiceBase.h)
set(_idl_gen_sources
  ${_idl_out}/mopra_types.cpp
  ${_idl_out}/wservicebase_types.cpp
  ${_idl_out}/WServiceBase.cpp)
add_custom_target(mopra_idl_gen DEPENDS ${_idl_gen_headers} ${_idl_gen_sources})

add_library(mopra_enums INTERFACE)
target_include_directories(mopra_enums SYSTEM INTERFACE ${TOKA_IDL_GEN_DIR} ${THRIFT_INCLUDE_DIRS})
add_dependencies(mopra_enums mopra_idl_gen)

# Generated code is not ours to keep warning-free.
set_source_files_properties(${_idl_gen_sources} PROPERTIES COMPILE_OPTIONS -w)
add_library(mopra_idl STATIC
  ${_idl_gen_sources}
  shared-types/mopra_constants.cpp
  shared-types/wservicebase_constants.cpp)
target_include_directories(mopra_idl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mopra_idl PUBLIC mopra_enums PkgConfig::THRIFT)
add_dependencies(mopra_idl mopra_idl_gen)
