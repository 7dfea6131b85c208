# Benchmarks of this part.
add_executable(bench_recording ${CMAKE_CURRENT_LIST_DIR}/bench_recording.cpp)
target_link_libraries(bench_recording PRIVATE ndirecordcore)
recorder_warnings(bench_recording)
set_target_properties(bench_recording PROPERTIES AUTOMOC OFF)
