# Copying a generated recording of at least 2 GB with two cut areas against
# dd bs=1M copying the same file, in the same run: ninja bench_copy (MPEG-2)
# and ninja bench_copy_hd (1080i H.264).
add_custom_target(bench_copy
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/bench_copy.sh $<TARGET_FILE:ravelo-cli>
  DEPENDS ravelo-cli
  USES_TERMINAL
  COMMENT "Copy with two cut areas vs dd bs=1M")
add_custom_target(bench_copy_hd
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/bench_copy.sh $<TARGET_FILE:ravelo-cli> hd
  DEPENDS ravelo-cli
  USES_TERMINAL
  COMMENT "Copy of an H.264 recording with two cut areas vs dd bs=1M")
