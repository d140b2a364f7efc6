# The framework's own picture readers: Windows bitmaps, icons and JPEG.
foreach(reader bitmap:TBitmap icon:TIcon jpeg:TJPEGImage)
  string(REPLACE ":" ";" parts ${reader})
  list(GET parts 0 name)
  list(GET parts 1 graphic)
  dot3_add_fuzzer(fuzz_framework_${name}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/framework/FuzzGraphic.cpp
    LIBS framework
    SEEDS ${CMAKE_CURRENT_LIST_DIR}/framework/seeds-${name})
  target_compile_definitions(fuzz_framework_${name} PRIVATE FUZZ_GRAPHIC=${graphic})
endforeach()
