# Vigilo's MIME code beside GMime 3 (a comparison only: the program never links
# GMime). Built when the gmime-3.0 development files are installed.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(GMIME3 QUIET IMPORTED_TARGET gmime-3.0)
endif()
if(GMIME3_FOUND)
  add_executable(bench_mime_peak_probe ${CMAKE_CURRENT_SOURCE_DIR}/mime_peak_probe.cpp)
  target_link_libraries(bench_mime_peak_probe PRIVATE vigilo_mail PkgConfig::GMIME3)
  add_executable(bench_mime_compare ${CMAKE_CURRENT_SOURCE_DIR}/mime_compare_bench.cpp)
  target_link_libraries(bench_mime_compare PRIVATE vigilo_mail PkgConfig::GMIME3
                                                   benchmark::benchmark)
  target_compile_definitions(bench_mime_compare
                             PRIVATE VIGILO_PEAK_PROBE="$<TARGET_FILE:bench_mime_peak_probe>")
  add_dependencies(bench_mime_compare bench_mime_peak_probe)
else()
  message(STATUS "gmime-3.0 not found: bench_mime_compare is not built")
endif()
