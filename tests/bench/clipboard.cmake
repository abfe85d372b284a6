# The loop's longest pause while another program's large picture is read ahead from the X
# clipboard, against Qt reading it on the loop: build/…/tests/bench/read_ahead_bench on a display.
if(ZUMELKO_BENCHMARKS AND TARGET zumelko_qt)
  add_executable(read_ahead_bench ${CMAKE_CURRENT_LIST_DIR}/ReadAheadBench.cpp)
  target_link_libraries(read_ahead_bench PRIVATE zumelko_app zumelko_qt)
  target_include_directories(read_ahead_bench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
