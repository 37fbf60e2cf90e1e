# Refuses an #include that runs upward: a file in a layer's folder may include
# only headers of its own folder and of the layers below it, as the layer
# table written by CMakeLists.txt says. Tests and their fixtures are exempt.
#
#   cmake -DQV_SOURCE_DIR=<checkout> -DQV_LAYER_TABLE=<build>/layers.cmake -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
include(${QV_LAYER_TABLE})

set(upward "")
foreach(layer IN LISTS QV_LAYERS)
  file(GLOB_RECURSE files ${QV_SOURCE_DIR}/src/${layer}/*.h ${QV_SOURCE_DIR}/src/${layer}/*.cpp)
  list(FILTER files EXCLUDE REGEX "_test(_fixture)?\\.(h|cpp)$")
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[^/\"]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^/\"]+)/.*" "\\1" folder "${line}")
      if(NOT folder IN_LIST QV_REACHES_${layer})
        file(RELATIVE_PATH shown ${QV_SOURCE_DIR} ${file})
        string(APPEND upward "  ${shown}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(upward)
  message(FATAL_ERROR "includes that run upward:\n${upward}")
endif()
