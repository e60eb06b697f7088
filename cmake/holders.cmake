# Subsystem 2, holder part: the holders (mopra::StrHolder, mopra::IntegralHolder,
# mopra_StringHolder, mopra::OpHandleHolder), the mopra free functions and, for MopraX,
# the pooled standard allocator of its containers.
#
# Two builds from the same sources, selected by one PUBLIC compile definition
# (shared-types/mopra_build.h); a binary links one of them, never both:
#   mopra_holders_px   MopraX's: MOPRA_PX_BUILD, full holders, 31 functions, containers on
#                      mopra::pooled_allocator over xfoundation_px, info "1.2.1".
#   mopra_holders_jni  MopraXJNI's older one: MOPRA_JNI_BUILD, value-only holders with
#                      getVal/setVal, the first 21 functions, std::allocator, no
#                      foundation, info "1.2.0".
set(_holders_src
  shared-types/MopraX_StrHolder.cpp
  shared-types/MopraX_OpHandleHolder.cpp
  shared-types/MopraX_impl.cpp)

add_library(mopra_holders_px STATIC ${_holders_src} shared-types/mopra_pooled_allocator.cpp)
target_compile_definitions(mopra_holders_px PUBLIC MOPRA_PX_BUILD=1)
target_include_directories(mopra_holders_px PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mopra_holders_px PUBLIC wcypher mopra_idl xfoundation_px)

add_library(mopra_holders_jni STATIC ${_holders_src})
target_compile_definitions(mopra_holders_jni PUBLIC MOPRA_JNI_BUILD=1)
target_include_directories(mopra_holders_jni PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mopra_holders_jni PUBLIC wcypher mopra_idl)
