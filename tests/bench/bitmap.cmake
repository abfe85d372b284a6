# Picture conversion against a plain copy of the same bytes: build/…/tests/bench/bitmap_bench
if(ZUMELKO_BENCHMARKS)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(bitmap_bench ${CMAKE_CURRENT_LIST_DIR}/bitmap_bench.cpp)
    target_link_libraries(bitmap_bench PRIVATE zumelko_sim benchmark::benchmark)
    target_include_directories(bitmap_bench PRIVATE ${CMAKE_SOURCE_DIR})
  endif()
endif()

# A large picture received on the Linux desktop, against a plain socket copy, with the event
# loop's longest pause and the peak memory: build/…/tests/bench/bitmap_receive_bench on a display.
if(ZUMELKO_BENCHMARKS AND TARGET zumelko_qt)
  add_executable(bitmap_receive_bench ${CMAKE_CURRENT_LIST_DIR}/bitmap_receive.cpp)
  target_link_libraries(bitmap_receive_bench PRIVATE zumelko_app zumelko_qt zumelko_test_support)
  target_include_directories(bitmap_receive_bench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
