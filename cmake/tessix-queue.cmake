# TessiX queue: the notification templates, the notification queue template and the queue
# facade behind the WNfQueueJNI natives (which cmake/tessix.cmake builds into libTessiX.so).
#
#   tnfqueue        header-only: wdb::TNotification_1_ref/_inst (src/wdb/TNotification.h) and
#                   TNotificationQueue (mopralib/inc/PocoEx/TNotificationQueue_impl.h)
#   wnfqueue_impl   wnfqueue::WNfQueueGeneric and wnfqueue::dumpData (WNfQueue_impl.cpp)
#
# For cmake/tessix.cmake (included after this fragment):
#   TESSIX_QUEUE_NATIVES   the natives' source, compiled into libTessiX.so
#   TESSIX_QUEUE_CLASS     the declaring class, compiled into TessiX.jar

add_library(tnfqueue INTERFACE)
target_include_directories(tnfqueue INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tnfqueue INTERFACE wdbnotif xfoundation Poco::Foundation Threads::Threads)

# The facade needs the TessiX module (src/TessiX_impl).
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/src/TessiX_impl.cpp)
  add_library(wnfqueue_impl STATIC WNfQueue_impl.cpp)
  target_include_directories(wnfqueue_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  # tessix_impl (module level, tessix__initialize, tessi::jThrowException) comes from
  # cmake/tessix.cmake, included later.
  target_link_libraries(wnfqueue_impl PUBLIC tnfqueue tessix_impl xfoundation toka::jni)

  set(TESSIX_QUEUE_NATIVES ${CMAKE_CURRENT_SOURCE_DIR}/src/my_com_olm_toka_jni_wnfqueue_WNfQueueJNI.cpp)
  set(TESSIX_QUEUE_CLASS com.olm.toka.jni.wnfqueue.WNfQueueJNI)
endif()
