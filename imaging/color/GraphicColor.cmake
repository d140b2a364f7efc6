# The colour manager, built as its own small library that the image library
# links. Its headers are included by path from the image library's folder.
add_library(graphiccolor STATIC
  ${CMAKE_CURRENT_LIST_DIR}/GraphicColor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Packed.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RGB.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Spaces.cpp)
target_include_directories(graphiccolor PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
# The per-pixel loops are written for the vectoriser, which -O2 leaves mostly
# idle; image loading speed rests on them.
target_compile_options(graphiccolor PRIVATE $<$<NOT:$<CONFIG:Debug>>:-O3>)
if(TARGET framework)
  target_link_libraries(graphiccolor PUBLIC framework)
else()
  target_include_directories(graphiccolor PUBLIC ${PROJECT_SOURCE_DIR}/platform/framework)
endif()
