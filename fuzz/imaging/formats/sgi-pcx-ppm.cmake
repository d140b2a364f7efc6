# The SGI, PCX and portable map readers on arbitrary bytes: any input must
# load or raise one of the library's errors, never crash, read out of bounds
# or allocate more than the input can justify. Seeds: make-sgi-pcx-ppm-seeds.py.
dot3_add_fuzzer(fuzz_sgi_pcx_ppm SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzSGIPCXPPM.cpp LIBS imaging
                SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/sgi-pcx-ppm)
