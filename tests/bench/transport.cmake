add_executable(transport_bench ${CMAKE_CURRENT_SOURCE_DIR}/TransportBench.cpp)
target_link_libraries(transport_bench PRIVATE zumelko_sim benchmark::benchmark)
target_include_directories(transport_bench PRIVATE ${CMAKE_SOURCE_DIR})
