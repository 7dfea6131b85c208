# Benchmarks of this part: the TCP control port and the HTTP panel server under load.
foreach(bench bench_tcpapi bench_httpapi)
    add_executable(${bench} ${CMAKE_CURRENT_SOURCE_DIR}/${bench}.cpp ${CMAKE_CURRENT_SOURCE_DIR}/benchfixture_remote.h)
    target_link_libraries(${bench} PRIVATE recorderlib)
    recorder_warnings(${bench})
endforeach()
add_dependencies(bench_httpapi panel_files)
