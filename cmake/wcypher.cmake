# Subsystem 2, codec part: the wcypher value codecs and Base64.
# Independent of the pooled allocator: the list codecs are header templates over the list
# type, so MopraX (pooled containers) and MopraXJNI (standard allocator) each instantiate
# them for their own containers; the library holds the std::vector<std::string> forms.
add_library(wcypher STATIC
  shared-types/WCypher.cpp
  shared-types/base64.cpp)
target_include_directories(wcypher PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wcypher PUBLIC toka::hashkit PkgConfig::LZF PRIVATE mopra_enums)
