# The loop's longest pause while allowed senders' names are looked up through a slow name
# server: tests/bench/lookup-bench.sh build/…/tests/bench/lookup_bench
add_executable(lookup_bench ${CMAKE_CURRENT_LIST_DIR}/LookupBench.cpp)
target_link_libraries(lookup_bench PRIVATE zumelko_app zumelko_sim)
target_include_directories(lookup_bench PRIVATE ${CMAKE_SOURCE_DIR})
