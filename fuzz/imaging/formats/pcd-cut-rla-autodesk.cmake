# The Photo-CD, Dr. Halo CUT, RLA and Autodesk readers behind one target; the
# first byte of each input chooses the reader.
dot3_add_fuzzer(fuzz_pcd_cut_rla_autodesk SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzPcdCutRlaAutodesk.cpp
                LIBS imaging SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/pcd-cut-rla-autodesk)
