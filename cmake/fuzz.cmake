# libFuzzer targets with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang only). Every layer of the engine and the request writer are
# instrumented for coverage and sanitizers; each target links libFuzzer's main
# and the layers it calls. Configured by
# the linux-fuzz preset, run by scripts/fuzz.sh.
if(NOT QV_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "QV_FUZZ needs clang (libFuzzer); configure with the linux-fuzz preset")
endif()

set(QV_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined
                       -fno-omit-frame-pointer)
foreach(layer IN LISTS QV_LAYER_NAMES)
  target_compile_options(qv_${layer} PRIVATE -fsanitize=fuzzer-no-link ${QV_FUZZ_SANITIZERS})
endforeach()
target_compile_options(qv_request_writer PRIVATE -fsanitize=fuzzer-no-link ${QV_FUZZ_SANITIZERS})

# qv_fuzz_target(<name> <libraries>): the libraries hold what the target calls.
function(qv_fuzz_target name)
  add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzz.cpp)
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer ${QV_FUZZ_SANITIZERS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_${name} PRIVATE ${ARGN})
endfunction()

qv_fuzz_target(request_reader qv_request qv_frame qv_request_writer)
qv_fuzz_target(path_algebra qv_paths)
qv_fuzz_target(json_escape qv_frame)
qv_fuzz_target(crc32 qv_verify)
qv_fuzz_target(text_codec qv_platform)
# The status line is the front end's own pure formatting: built in, so that it
# is instrumented too.
qv_fuzz_target(status_line)
target_sources(fuzz_status_line PRIVATE ${CMAKE_SOURCE_DIR}/tools/frontend/status_line.cpp)
target_include_directories(fuzz_status_line PRIVATE ${CMAKE_SOURCE_DIR}/tools)

# Regenerates the request reader's seed corpus: make_request_seeds <folder>.
add_executable(make_request_seeds ${CMAKE_SOURCE_DIR}/fuzz/make_request_seeds.cpp)
target_link_options(make_request_seeds PRIVATE -fsanitize=address,undefined)
target_link_libraries(make_request_seeds PRIVATE qv_request_writer)

add_custom_target(fuzz_targets DEPENDS fuzz_request_reader fuzz_path_algebra
                  fuzz_json_escape fuzz_crc32 fuzz_text_codec fuzz_status_line
                  make_request_seeds)
