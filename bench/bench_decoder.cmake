# Snapshot decoder speed against ffmpeg (single thread) on the I pictures of
# a generated SD stream: `ninja -C build run_decoder_bench`.
add_executable(decoder_bench ${CMAKE_CURRENT_LIST_DIR}/decoder_bench.cpp)
target_link_libraries(decoder_bench PRIVATE ravelo_core)
ravelo_target_options(decoder_bench)
add_custom_target(run_decoder_bench COMMAND decoder_bench DEPENDS decoder_bench USES_TERMINAL)
