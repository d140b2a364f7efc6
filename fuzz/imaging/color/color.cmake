# The colour manager under random settings and rows.
if(NOT TARGET graphiccolor)
  include(${PROJECT_SOURCE_DIR}/imaging/color/GraphicColor.cmake)
endif()
dot3_add_fuzzer(fuzz_color_manager SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzColorManager.cpp
                LIBS graphiccolor SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds)
