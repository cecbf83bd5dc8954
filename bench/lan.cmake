# The LAN listener under load (scripts/lan-load): a measuring program, not a benchmark.
if(TARGET vigilo_lan)
  add_executable(lan_load ${CMAKE_CURRENT_SOURCE_DIR}/lan_load.cpp)
  target_link_libraries(lan_load PRIVATE vigilo_lan)
endif()
