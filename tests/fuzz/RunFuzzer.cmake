# Builds one fuzz target with clang (tests/fuzz/target) and runs it for a bounded time over its
# seeds: the test fails on any crash, sanitizer report, broken invariant or leak it finds.
# cmake -DSOURCE_DIR=… -DBINARY_DIR=… -DCLANGXX=… -DSECONDS=… [-DFUZZ_TARGET=…] [-DCONVERT=…] -P RunFuzzer.cmake
# FUZZ_TARGET is bitmap (the default, seeds made with convert), header, reassembly, tls or secure (seeds under
# tests/fuzz/seeds/<FUZZ_TARGET>).
if(NOT FUZZ_TARGET)
  set(FUZZ_TARGET bitmap)
endif()
set(required SOURCE_DIR BINARY_DIR CLANGXX SECONDS)
if(FUZZ_TARGET STREQUAL "bitmap")
  list(APPEND required CONVERT)
endif()
foreach(var ${required})
  if(NOT ${var} OR ${var} MATCHES "NOTFOUND$")
    message(FATAL_ERROR "${var} is not set: clang++ and convert are needed (packages clang, imagemagick)")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " line)
    message(FATAL_ERROR "failed (${result}): ${line}")
  endif()
endfunction()

set(build ${BINARY_DIR}/build)
set(launcher "")
find_program(CCACHE ccache)
if(CCACHE)
  set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE})
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/fuzz/target -B ${build} -G Ninja ${launcher}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=${CLANGXX} -DZUMELKO_SOURCE_DIR=${SOURCE_DIR})
run(${CMAKE_COMMAND} --build ${build} -j 2 --target ${FUZZ_TARGET}_fuzzer)

file(MAKE_DIRECTORY ${BINARY_DIR}/corpus)
if(FUZZ_TARGET STREQUAL "bitmap")
  # Seeds: every depth and both header kinds another writer produces, and the compressed and
  # masked forms (those convert does not write with a 40-byte header are kept beside this file).
  set(seeds ${BINARY_DIR}/seeds)
  file(MAKE_DIRECTORY ${seeds})
  file(GLOB kept ${SOURCE_DIR}/tests/fuzz/seeds/*.bmp)
  file(COPY ${kept} DESTINATION ${seeds})
  set(source -size 13x7 gradient:red-blue)
  run(${CONVERT} ${source} -type Palette -colors 2 BMP3:${seeds}/bits1.bmp)
  run(${CONVERT} ${source} -type Palette -colors 9 BMP3:${seeds}/bits4.bmp)
  run(${CONVERT} ${source} -type Palette -colors 60 -compress None BMP3:${seeds}/bits8.bmp)
  run(${CONVERT} ${source} -type Palette -colors 60 BMP3:${seeds}/rle8.bmp)
  run(${CONVERT} ${source} -type TrueColor BMP3:${seeds}/bits24.bmp)
  run(${CONVERT} ${source} -type Palette -colors 9 BMP2:${seeds}/core4.bmp)
  run(${CONVERT} -size 3x2 xc:white -type Bilevel BMP3:${seeds}/white.bmp)
  set(max_len 8192)
else()
  set(seeds ${SOURCE_DIR}/tests/fuzz/seeds/${FUZZ_TARGET})
  set(max_len 4096)
endif()

run(${build}/${FUZZ_TARGET}_fuzzer ${BINARY_DIR}/corpus ${seeds}
    -max_total_time=${SECONDS} -max_len=${max_len} -timeout=10 -rss_limit_mb=2048
    -artifact_prefix=${BINARY_DIR}/ -print_final_stats=1)
