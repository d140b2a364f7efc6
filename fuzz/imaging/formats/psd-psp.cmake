# The Photoshop and Paintshop Pro readers on arbitrary bytes: one target that
# picks the reader by the Photoshop signature.
dot3_add_fuzzer(fuzz_psd_psp SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzPSDPSP.cpp LIBS imaging
                SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/psd-psp)
