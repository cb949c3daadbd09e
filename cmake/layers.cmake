# The layers of the code and what keeps them apart.
#
# korvane_layer(NAME FOLDER [BELOW...]) makes the library of one layer from the
# sources directly in FOLDER, linking only the layer(s) below it.
#
# The check below runs with every build: a source that includes a header from
# a layer above its own, or from another folder of the same layer, fails the
# build, so a wrong include is caught where it is written, not when it links.
function(korvane_layer name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} ${scope} ${ARGN})
endfunction()

# Folder: level. A folder may include from itself and from lower levels.
set(KORVANE_LAYERS
    "midi:0" "midi/rtmidi:1" "midi/winmm:1" "midi/webmidi:1" "run:1" "update:2" "workflow:3" "app:4"
    "app/qt:5" "app/win32:5" "cli:5" "sim:5" "sim/tool:6")
add_custom_target(check_layers ALL
  COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} "-DLAYERS=${KORVANE_LAYERS}"
          -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
  COMMENT "Checking that every include points down the layers"
  VERBATIM)
