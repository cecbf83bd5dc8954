# Code-page conversion and detection throughput.
add_executable(bench_cyrcoder ${CMAKE_CURRENT_SOURCE_DIR}/cyrcoder_bench.cpp)
target_link_libraries(bench_cyrcoder PRIVATE benchmark::benchmark vigilo_viewer)
