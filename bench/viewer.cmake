# Opening the viewer on a large header list (sort and fill of the model).
if(TARGET vigilo_viewer_model AND TARGET vigilo_test_support)
  add_executable(bench_viewer ${CMAKE_CURRENT_SOURCE_DIR}/viewer_bench.cpp)
  target_link_libraries(bench_viewer PRIVATE benchmark::benchmark vigilo_viewer_model vigilo_core
                                             vigilo_test_support)
endif()
