# Opening a recording costs the same whatever its size: `ravelo-cli info` on a
# 10 MB and a 10 GB (sparse) recording. Run with `ninja -C build bench_open`.
add_custom_target(bench_open
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bench_open.sh $<TARGET_FILE:ravelo-cli>
          ${PROJECT_SOURCE_DIR}/samples/sample.ts ${PROJECT_BINARY_DIR}/bench_open
  USES_TERMINAL)
add_dependencies(bench_open ravelo-cli)
