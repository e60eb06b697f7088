# TessiX queue: the notification templates, the notification queue template and the queue
# facade behind the WNfQueueJNI natives (which cmake/tessix.cmake builds into libTessiX.so).
#
#   tnfqueue        header-only: wdb::TNotification_1_ref/_inst (src/wdb/TNotification.h) and
#                   TNotificationQueue (mopralib/inc/PocoEx/TNotificationQueue_impl.h)
#   wnfqueue_impl   wnfqueue::WNfQueueGeneric and wnfqueue::dumpData (WNfQueue_impl.cpp)

add_library(tnfqueue INTERFACE)
target_include_directories(tnfqueue INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tnfqueue INTERFACE wdbnotif Poco::Foundation)

add_library(wnfqueue_impl STATIC WNfQueue_impl.cpp)
target_include_directories(wnfqueue_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# tessix_impl (module level, tessix__initialize, tessi::jThrowException) comes from
# cmake/tessix.cmake, included later.
target_link_libraries(wnfqueue_impl PUBLIC tnfqueue tessix_impl)
