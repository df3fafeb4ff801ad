# The window's start-up to the first picture on screen, against an empty Qt
# main window started the same way; with and without a slow gst-inspect-1.0
# on the PATH. Run with `ninja -C build bench_window_start`.
if(TARGET ravelo_gui)
  add_executable(window_start ${CMAKE_CURRENT_LIST_DIR}/window_start.cpp)
  target_link_libraries(window_start PRIVATE ravelo_gui)
  ravelo_target_options(window_start)
  add_custom_target(bench_window_start
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bench_window_start.sh $<TARGET_FILE:window_start>
            ${PROJECT_SOURCE_DIR}/samples/sample.ts
    USES_TERMINAL)
  add_dependencies(bench_window_start window_start)
endif()
