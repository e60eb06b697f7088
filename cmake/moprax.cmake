# MopraX: the PHP extension over the shared types (subsystem 5).
#
#   moprax_php55  the PHP 5.5 convention layer (php/php55_conv): argument kinds, resource
#                 records, the exception guard, the function table made from the rows
#   MopraX        the deliverable MopraX.so (no lib prefix), loaded by the php CLI with
#                 `-d extension=...`; exports only get_module. Engine symbols resolve from
#                 the php binary at load, so the module links with undefined symbols.
add_library(moprax_php55 STATIC php/php55_conv.cpp)
target_include_directories(moprax_php55 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(moprax_php55 PUBLIC toka::php xfoundation_px)

set(MOPRAX_VERSION_SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/moprax.map)
file(WRITE ${MOPRAX_VERSION_SCRIPT} "{\n  global: get_module;\n  local: *;\n};\n")
add_library(MopraX MODULE php/MopraX_wrapwrap.cpp)
set_target_properties(MopraX PROPERTIES PREFIX "" OUTPUT_NAME MopraX SUFFIX ".so"
                                        LINK_DEPENDS ${MOPRAX_VERSION_SCRIPT})
target_link_libraries(MopraX PRIVATE moprax_php55 mopra_holders_px)
target_link_options(MopraX PRIVATE -Wl,--version-script=${MOPRAX_VERSION_SCRIPT})
