# One frame of the demo scene on the software device.
dot3_add_bench(bench_device SOURCES ${CMAKE_CURRENT_LIST_DIR}/device/bench_device.cpp
               LIBS d3d8_headers d3dx8 win32)
# The device is a run-time module found beside the benchmark.
add_dependencies(bench_device d3d8)
