# The host-side tools: quorvel-copy (a front end that runs the worker beside
# it) and quorvel-request (request files to JSON and back), with their tests.
# They share the request writer; quorvel-request also takes the worker's
# request reader (qv_request) for its verdict, and nothing else of the engine.

# CLI11 and nlohmann-json are header-only. Only their own folders are put on
# the include path: adding /usr/include itself would hand the Windows
# cross-compiler the host's system headers.
set(QV_CLI11_DIR /usr/include/CLI CACHE PATH "CLI11 header folder")
set(QV_NLOHMANN_JSON_DIR /usr/include/nlohmann CACHE PATH "nlohmann-json header folder")
set(QV_FRONTEND_THIRD_PARTY ${CMAKE_BINARY_DIR}/frontend_third_party)
file(COPY ${QV_CLI11_DIR} ${QV_NLOHMANN_JSON_DIR} DESTINATION ${QV_FRONTEND_THIRD_PARTY})

# Child processes for the front end and the tests: the C++ library and the
# system's own headers only.
add_library(qv_child_process STATIC
            ${CMAKE_SOURCE_DIR}/tools/child_process/child_process_${QV_PLATFORM_DIR}.cpp)
target_include_directories(qv_child_process PUBLIC ${CMAKE_SOURCE_DIR}/tools)

file(GLOB QV_FRONTEND_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/frontend/*.cpp)
list(FILTER QV_FRONTEND_SOURCES EXCLUDE REGEX "_main\\.cpp$")
list(FILTER QV_FRONTEND_SOURCES EXCLUDE REGEX "_${QV_OTHER_PLATFORM_DIR}\\.cpp$")
add_library(qv_frontend STATIC ${QV_FRONTEND_SOURCES})
target_include_directories(qv_frontend PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_include_directories(qv_frontend SYSTEM PUBLIC ${QV_FRONTEND_THIRD_PARTY})
target_link_libraries(qv_frontend PUBLIC qv_child_process qv_request_writer qv_request
                      Threads::Threads)
if(WIN32)
  target_link_libraries(qv_frontend PUBLIC shell32)
endif()

# Both land beside the worker, where quorvel-copy looks for it.
add_executable(quorvel-copy ${CMAKE_SOURCE_DIR}/tools/frontend/copy_main.cpp)
target_link_libraries(quorvel-copy PRIVATE qv_frontend)
add_dependencies(quorvel-copy worker)
add_executable(quorvel-request ${CMAKE_SOURCE_DIR}/tools/frontend/request_main.cpp)
target_link_libraries(quorvel-request PRIVATE qv_frontend)

file(GLOB QV_TOOLS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.cpp)
list(FILTER QV_TOOLS_TEST_SOURCES EXCLUDE REGEX "_${QV_OTHER_PLATFORM_DIR}\\.cpp$")
add_executable(qv_tools_tests ${QV_TOOLS_TEST_SOURCES})
target_link_libraries(qv_tools_tests PRIVATE qv_frontend qv_test_support gtest_main)
# The README's JSON example is checked against what quorvel-request prints.
target_compile_definitions(qv_tools_tests PRIVATE QV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(qv_tools_tests quorvel-copy quorvel-request worker)
add_test(NAME tools COMMAND qv_tools_tests --gtest_brief=1)
set_tests_properties(tools PROPERTIES TIMEOUT 300 ENVIRONMENT
  "QV_WORKER=$<TARGET_FILE:worker>;QV_COPY_TOOL=$<TARGET_FILE:quorvel-copy>;QV_REQUEST_TOOL=$<TARGET_FILE:quorvel-request>")
