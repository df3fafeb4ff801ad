# HD recordings: a 5 s 1080i H.264 recording (12 Mbit/s, smaller than the
# 10 MB recording of bench_open) made with ffmpeg (below the build
# folder, once), then
#   ninja -C build bench_snapshot_hd   the window's snapshot (search, decode,
#                                      bitmap) against ffmpeg extracting the
#                                      same pictures
#   ninja -C build bench_open_hd       `ravelo-cli info` on a 10 MB and a
#                                      10 GB HD recording
add_executable(snapshot_bench ${CMAKE_CURRENT_LIST_DIR}/snapshot_bench.cpp)
target_link_libraries(snapshot_bench PRIVATE ravelo_core)
ravelo_target_options(snapshot_bench)

set(RAVELO_HD_BENCH_RECORDING ${PROJECT_BINARY_DIR}/bench_hd/h264_1080i.ts)
add_custom_command(
  OUTPUT ${RAVELO_HD_BENCH_RECORDING}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/bench_hd
  COMMAND ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25
          -f lavfi -i sine=frequency=440:sample_rate=48000 -t 5 -map 0:v -map 1:a -map 1:a
          -c:v libx264 -preset superfast -b:v 12M -flags +ildct+ilme
          -x264-params interlaced=1:tff=1:keyint=12:min-keyint=12:scenecut=0:open-gop=1:bframes=3
          -c:a:0 aac -c:a:1 eac3 -ac:a:1 6 -f mpegts ${RAVELO_HD_BENCH_RECORDING}
  COMMENT "Making a 1080i H.264 recording for the HD benchmarks")
add_custom_target(bench_snapshot_hd
  COMMAND snapshot_bench ${RAVELO_HD_BENCH_RECORDING} 20
  DEPENDS snapshot_bench ${RAVELO_HD_BENCH_RECORDING}
  USES_TERMINAL)
add_custom_target(bench_open_hd
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bench_open.sh $<TARGET_FILE:ravelo-cli>
          ${RAVELO_HD_BENCH_RECORDING} ${PROJECT_BINARY_DIR}/bench_open_hd
  DEPENDS ${RAVELO_HD_BENCH_RECORDING}
  USES_TERMINAL)
add_dependencies(bench_open_hd ravelo-cli)
