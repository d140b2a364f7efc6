dot3_add_bench(bench_textures SOURCES textures/bench_textures.cpp LIBS textures)
add_dependencies(bench_textures d3d8)
