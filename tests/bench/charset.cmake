# The Linux desktop's code page conversions on 64 MiB texts, against a plain copy of the same
# bytes: build/…/tests/bench/charset_bench
if(TARGET zumelko_qt)
  add_executable(charset_bench ${CMAKE_CURRENT_LIST_DIR}/CharsetBench.cpp)
  target_link_libraries(charset_bench PRIVATE zumelko_qt benchmark::benchmark)
  target_include_directories(charset_bench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
