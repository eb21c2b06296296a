# Sanitizer and fuzzing instrumentation for the whole build. It must apply to
# every library, not only to the programs that link them, so it is set before the
# first target is defined.

if(RSCDC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "RSCDC_FUZZ needs clang's libFuzzer: configure with CC=clang CXX=clang++")
  endif()
  # A fuzzer finds more when every crash of memory or arithmetic is one.
  if(NOT RSCDC_SANITIZE)
    set(RSCDC_SANITIZE "address,undefined")
  endif()
  # Coverage feedback from the libraries too; only the fuzz targets link the
  # libFuzzer driver itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()

if(RSCDC_SANITIZE)
  # A report that lets the test go on would pass unnoticed: every finding stops
  # the process.
  add_compile_options(-fsanitize=${RSCDC_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${RSCDC_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's instrumentation makes this warning fire inside its own headers
    # (<regex>, <functional>); its manual advises against sanitizers with
    # -Werror for that reason. The plain build keeps the warning.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  message(STATUS "Sanitizers: ${RSCDC_SANITIZE}")
endif()
