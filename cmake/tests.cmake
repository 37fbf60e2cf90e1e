# Unit tests sit beside the code they test; process tests under tests/ run
# the built worker on real request files and folders. Both binaries run
# natively on Linux and under Wine for the Windows build (CTest's
# cross-compiling emulator).
enable_testing()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(QV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources")
# googletest is third-party code: build it without our warning flags.
set(QV_SAVED_COMPILE_OPTIONS "${CMAKE_CXX_FLAGS}")
add_subdirectory(${QV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main)
  set_property(TARGET ${t} PROPERTY COMPILE_OPTIONS "")
  target_compile_options(${t} PRIVATE -w)
endforeach()

# zlib: the CRC-32 benchmark's yardstick (cmake/bench.cmake).
if(NOT WIN32)
  find_package(ZLIB QUIET)
endif()

file(GLOB_RECURSE QV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/src/*_test.cpp ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
list(FILTER QV_UNIT_TEST_SOURCES EXCLUDE REGEX "/src/platform/${QV_OTHER_PLATFORM_DIR}/")
file(GLOB QV_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
list(FILTER QV_TEST_SUPPORT_SOURCES EXCLUDE REGEX "_${QV_OTHER_PLATFORM_DIR}\\.cpp$")

add_library(qv_test_support STATIC ${QV_TEST_SUPPORT_SOURCES})
target_include_directories(qv_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(qv_test_support PUBLIC gtest qv_request_writer qv_job qv_child_process)

add_executable(qv_unit_tests ${QV_UNIT_TEST_SOURCES})
target_link_libraries(qv_unit_tests PRIVATE qv_job qv_test_support gtest_main)

file(GLOB QV_PROCESS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/process/*_test.cpp)
add_executable(qv_process_tests ${QV_PROCESS_TEST_SOURCES})
target_link_libraries(qv_process_tests PRIVATE qv_test_support gtest_main)
add_dependencies(qv_process_tests worker)

# Each test binary is one CTest test: gtest's own summary lines show in the
# log, and the binaries shard nothing, so Wine starts each only once.
add_test(NAME unit COMMAND qv_unit_tests --gtest_brief=1)
add_test(NAME process COMMAND qv_process_tests --gtest_brief=1)
set_tests_properties(process PROPERTIES
  ENVIRONMENT "QV_WORKER=$<TARGET_FILE:worker>")
set_tests_properties(unit process PROPERTIES TIMEOUT 900)

# No engine file includes a header of a layer above its own.
add_test(NAME layers COMMAND ${CMAKE_COMMAND} -DQV_SOURCE_DIR=${CMAKE_SOURCE_DIR}
         -DQV_LAYER_TABLE=${QV_LAYER_TABLE} -P ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake)
