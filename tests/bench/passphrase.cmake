# The team key's derivation against making the run's TLS identity: build/…/tests/bench/passphrase_bench
if(TARGET zumelko_tls)
  add_executable(passphrase_bench ${CMAKE_CURRENT_LIST_DIR}/PassphraseBench.cpp)
  target_link_libraries(passphrase_bench PRIVATE zumelko_tls benchmark::benchmark)
  target_include_directories(passphrase_bench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
