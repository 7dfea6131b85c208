# Benchmarks of the simulated NDI runtime. The picture and tone code is compiled in as well, to time
# it without the clock.
add_executable(bench_ndi ${CMAKE_CURRENT_LIST_DIR}/bench_ndi.cpp
    ${CMAKE_SOURCE_DIR}/platform/ndi/simpicture.cpp ${CMAKE_SOURCE_DIR}/platform/ndi/simsource.cpp
    ${CMAKE_SOURCE_DIR}/platform/ndi/simencodedpicture.cpp)
target_include_directories(bench_ndi PRIVATE ${CMAKE_SOURCE_DIR}/platform/ndi)
target_link_libraries(bench_ndi PRIVATE ndi Qt6::Core PkgConfig::FFMPEG)
set_target_properties(bench_ndi PROPERTIES AUTOMOC OFF)
recorder_warnings(bench_ndi)
