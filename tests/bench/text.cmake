# A large received text through the whole program: peak memory per byte and the longest loop
# gap, each against a plain receiver: build/…/tests/bench/text_bench
add_executable(text_bench ${CMAKE_CURRENT_LIST_DIR}/TextBench.cpp)
target_link_libraries(text_bench PRIVATE zumelko_app zumelko_sim benchmark::benchmark)
target_include_directories(text_bench PRIVATE ${CMAKE_SOURCE_DIR})
if(TARGET zumelko_qt)
  add_executable(text_qt_bench ${CMAKE_CURRENT_LIST_DIR}/TextBench.cpp)
  target_compile_definitions(text_qt_bench PRIVATE ZUMELKO_TEXT_BENCH_QT)
  target_link_libraries(text_qt_bench PRIVATE zumelko_app zumelko_qt zumelko_sim benchmark::benchmark)
  target_include_directories(text_qt_bench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
