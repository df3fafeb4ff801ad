# Demultiplexing speed: ravelo-cli's demux, mpeg and vob jobs against ffmpeg -c
# copy doing the same three jobs and cat reading the file, on a generated recording
# of at least 500 MB (made in /tmp by the script, not kept in the tree).
#   ninja -C build bench_demux
add_custom_target(bench_demux
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/bench_demux.sh $<TARGET_FILE:ravelo-cli>
  DEPENDS ravelo-cli
  USES_TERMINAL
  COMMENT "Demultiplexing benchmark")
