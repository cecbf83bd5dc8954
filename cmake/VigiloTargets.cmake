# Helpers shared by the folders' build files.
#
# vigilo_library(NAME [GLOB pattern...] [DEPS target...] [QT])
#   A static library of the *.cpp files matched by the patterns (default "*.cpp"
#   in the calling folder). A folder with no sources yet gives an INTERFACE
#   library, so targets can name it before it has code.
function(vigilo_library name)
  cmake_parse_arguments(ARG "QT" "" "GLOB;DEPS" ${ARGN})
  if(NOT ARG_GLOB)
    set(ARG_GLOB "*.cpp")
  endif()
  set(patterns)
  foreach(p IN LISTS ARG_GLOB)
    list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${p})
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${patterns})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    if(ARG_QT)
      set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
    endif()
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# vigilo_ui_library(NAME [DEPS target...])
#   The windows of one subsystem: a Qt Widgets library of the calling folder's ui/*.cpp.
#   It is registered for the program in core/app, the one place that assembles the windows.
function(vigilo_ui_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  if(NOT VIGILO_GUI)
    return()
  endif()
  vigilo_library(${name} GLOB "ui/*.cpp" DEPS ${ARG_DEPS} vigilo_core_ui Qt6::Widgets QT)
  set_property(GLOBAL APPEND PROPERTY VIGILO_UI_LIBRARIES ${name})
endfunction()
