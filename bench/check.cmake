# One check of a 1,000-message mailbox against a private Dovecot (seconds).
if(TARGET vigilo_test_support)
  add_executable(bench_check ${CMAKE_CURRENT_SOURCE_DIR}/check_bench.cpp)
  target_link_libraries(bench_check PRIVATE benchmark::benchmark vigilo_core vigilo_test_support)
endif()
