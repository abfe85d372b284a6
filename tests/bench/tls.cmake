# The TLS layer's cost per connection against a plain one, and the passphrase derivation:
# build/…/tests/bench/tls_bench
if(TARGET zumelko_tls)
  add_executable(tls_bench ${CMAKE_CURRENT_LIST_DIR}/TlsBench.cpp ${CMAKE_SOURCE_DIR}/tests/tls/TlsTestPair.cpp)
  target_link_libraries(tls_bench PRIVATE zumelko_tls zumelko_sim benchmark::benchmark)
  target_include_directories(tls_bench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
