# Decode throughput of the image readers, with libpng and stb_image reading
# the same files as baselines.
find_package(PNG QUIET)
find_library(STB_LIBRARY stb)
if(PNG_FOUND AND STB_LIBRARY)
  dot3_add_bench(bench_imaging SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging/BenchImaging.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/imaging/BenchSGIPCXPPM.cpp
                 LIBS imaging PNG::PNG ${STB_LIBRARY})
  target_include_directories(bench_imaging PRIVATE ${PROJECT_SOURCE_DIR}/tests/imaging)
endif()
