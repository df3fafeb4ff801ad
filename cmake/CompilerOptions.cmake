# Warning, sanitizer and fuzzing flags shared by every target of the project.

set(RAVELO_WARNING_FLAGS -Wall -Wextra)
if(RAVELO_WERROR)
  list(APPEND RAVELO_WARNING_FLAGS -Werror)
endif()

if(RAVELO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(RAVELO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "RAVELO_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Instrument everything for coverage; only the fuzz targets link the
  # libFuzzer driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(ravelo_target_options target)
  target_compile_options(${target} PRIVATE ${RAVELO_WARNING_FLAGS})
endfunction()
