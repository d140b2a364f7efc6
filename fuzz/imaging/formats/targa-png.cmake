# Reader fuzz targets: any byte string must load or raise one of the
# library's errors, never crash, read out of bounds or allocate wildly.
dot3_add_fuzzer(fuzz_targa SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzTarga.cpp LIBS imaging
                SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/targa)
dot3_add_fuzzer(fuzz_png SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzPNG.cpp LIBS imaging
                SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/png)
