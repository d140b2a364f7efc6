# Decode throughput of the image readers, with libpng, stb_image and libtiff
# reading the same files as baselines, and every peer library (FreeImage,
# DevIL, OpenImageIO, libjpeg) loading the same files from disk.
find_package(PNG QUIET)
find_library(STB_LIBRARY stb)
find_package(TIFF QUIET)
find_library(FREEIMAGE_LIBRARY freeimage)
find_library(DEVIL_LIBRARY IL)
# OpenImageIO through pkg-config: Debian's CMake package names include
# folders of optional dependencies that need not be installed.
pkg_check_modules(OPENIMAGEIO QUIET IMPORTED_TARGET OpenImageIO)
if(PNG_FOUND AND STB_LIBRARY)
  dot3_add_bench(bench_imaging SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging/BenchImaging.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/imaging/formats/BenchSGIPCXPPM.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/imaging/formats/BenchPSD.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/imaging/compression/BenchTargaWriter.cpp
                 LIBS imaging PNG::PNG ${STB_LIBRARY})
  target_include_directories(bench_imaging PRIVATE ${CMAKE_CURRENT_LIST_DIR}/imaging ${PROJECT_SOURCE_DIR}/tests/imaging)
  # libtiff writes the TIFF files and reads them as the baseline; it is
  # linked into the benchmark only.
  if(TIFF_FOUND)
    target_sources(bench_imaging PRIVATE ${CMAKE_CURRENT_LIST_DIR}/imaging/formats/BenchTIFF.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/imaging/compression/BenchDecoders.cpp)
    target_link_libraries(bench_imaging PRIVATE TIFF::TIFF)
    # The peer libraries are linked into the benchmark only, never into the
    # product.
    if(FREEIMAGE_LIBRARY AND DEVIL_LIBRARY AND OPENIMAGEIO_FOUND)
      target_sources(bench_imaging PRIVATE ${CMAKE_CURRENT_LIST_DIR}/imaging/BenchPeers.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/imaging/PeerLoaders.cpp)
      target_link_libraries(bench_imaging PRIVATE ${FREEIMAGE_LIBRARY} ${DEVIL_LIBRARY} PkgConfig::OPENIMAGEIO
                                                  JPEG::JPEG)
    else()
      message(STATUS "bench_imaging: FreeImage, DevIL or OpenImageIO missing (scripts/deps bench), no peer rows")
    endif()
  endif()
endif()
# A whole process decoding one PNG file with libpng, the baseline that
# `graphic-convert FILE` is timed against.
if(PNG_FOUND)
  add_executable(libpng-decode ${CMAKE_CURRENT_LIST_DIR}/imaging/libpng-decode.cpp)
  target_link_libraries(libpng-decode PRIVATE PNG::PNG)
endif()
