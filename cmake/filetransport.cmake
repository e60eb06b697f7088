# Subsystem 4: the file transport WFileTransport, a buffered Thrift transport over a file
# descriptor. Linked whole into libTessiX.so, which exports the class.
add_library(wfiletransport STATIC WFileTransport.cpp)
target_include_directories(wfiletransport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wfiletransport PUBLIC PkgConfig::THRIFT Poco::Foundation Threads::Threads)
