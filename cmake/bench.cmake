# Benchmarks: built with the engine, run by hand (bench/*.sh), never by CTest.
if(NOT CMAKE_CROSSCOMPILING AND ZLIB_FOUND)
  add_executable(crc32_bench bench/crc32_bench.cpp)
  target_link_libraries(crc32_bench PRIVATE qv_job ZLIB::ZLIB)
endif()
