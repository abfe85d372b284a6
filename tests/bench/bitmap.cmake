# Picture conversion against a plain copy of the same bytes: build/…/tests/bench/bitmap_bench
if(ZUMELKO_BENCHMARKS)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(bitmap_bench ${CMAKE_CURRENT_LIST_DIR}/bitmap_bench.cpp)
    target_link_libraries(bitmap_bench PRIVATE zumelko_sim benchmark::benchmark)
    target_include_directories(bitmap_bench PRIVATE ${CMAKE_SOURCE_DIR})
  endif()
endif()
