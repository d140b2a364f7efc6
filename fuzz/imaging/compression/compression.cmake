# Every decoder of GraphicCompression on arbitrary packed data: the first
# input bytes pick the decoder and its parameters, the rest is decoded into
# a bounded target.
dot3_add_fuzzer(fuzz_decoders SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzDecoders.cpp LIBS imaging
                SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds)
