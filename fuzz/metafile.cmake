# Metafiles of both kinds: loading, then playing every record onto a bitmap.
dot3_add_fuzzer(fuzz_metafile SOURCES ${CMAKE_CURRENT_LIST_DIR}/metafile/FuzzMetafile.cpp
                LIBS framework SEEDS ${CMAKE_CURRENT_LIST_DIR}/metafile/seeds)
