# The parallel decoding of TIFF strips and tiles against the one-thread path,
# with libtiff writing the files. It is also the one test of the thread
# sanitizer build (DOT3_TSAN), which makes only the image library and it.
find_package(TIFF QUIET)
add_executable(imaging_tiff_parallel_test ${CMAKE_CURRENT_LIST_DIR}/TIFFParallelTest.cpp)
target_link_libraries(imaging_tiff_parallel_test PRIVATE imaging GTest::gtest GTest::gtest_main)
target_include_directories(imaging_tiff_parallel_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/imaging)
if(TIFF_FOUND)
  target_link_libraries(imaging_tiff_parallel_test PRIVATE TIFF::TIFF)
  target_compile_definitions(imaging_tiff_parallel_test PRIVATE DOT3_HAVE_LIBTIFF)
endif()
set(parallel_labels "")
if(DOT3_TSAN)
  set(parallel_labels tsan)
elseif(DOT3_FUZZ)
  set(parallel_labels asan)
endif()
gtest_discover_tests(imaging_tiff_parallel_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${parallel_labels}")
