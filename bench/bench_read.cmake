# Reading a recording the demultiplexer's way (190 bytes, 2 back) against
# plain 1 MiB reads of the same file.
add_executable(bench_read ${CMAKE_CURRENT_LIST_DIR}/read_rate.cpp)
target_link_libraries(bench_read PRIVATE ravelo_core)
ravelo_target_options(bench_read)
