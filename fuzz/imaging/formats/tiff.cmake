# TIFF reader fuzz target; the first input byte chooses a plain TIFF file or
# the TIFF preview of an EPS file, read from memory or as from a file.
dot3_add_fuzzer(fuzz_tiff SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzTIFF.cpp LIBS imaging
                SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/tiff)
