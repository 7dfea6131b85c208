# Benchmark of the audio thread's work per pull with 16 connected slots.
add_executable(bench_audio ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp)
target_link_libraries(bench_audio PRIVATE recorderlib Qt6::Test)
recorder_warnings(bench_audio)
