# SornX: opening a store from configuration, the storage binding and its Java natives.
#
#   wdbkc_open    wdb::OpenKCFromConfig over the uniform and contiguous stores
#   sornx_impl    sorn::SornGeneric, the sornx__ module functions and the binding helpers
#   sornx_java    SornX.jar (com.olm.toka.jni.sorn.SornJNI) and the JNI header javac
#                 generates from it, which the natives are compiled against
#   SornX         the deliverable libSornX.so: exports exactly the 21 Java_ natives

add_library(wdbkc_open STATIC src/wdb/kc/OpenKCFromConfig.cpp)
target_include_directories(wdbkc_open PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wdbkc_open PUBLIC wdbkc_cont)

add_library(sornx_impl STATIC src/SornX_impl.cpp)
target_include_directories(sornx_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(sornx_impl PUBLIC wdbkc_open tokajni_log)

# The deliverable (cmake/jni.cmake): SornX.jar, the JNI header and libSornX.so.
toka_jni_library(SornX
  CLASSES com.olm.toka.jni.sorn.SornJNI
  NATIVES src/my_com_olm_toka_jni_sorn_SornJNI.cpp)
target_link_libraries(SornX PRIVATE sornx_impl)
