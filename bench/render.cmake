# Benchmarks of the preview: paint cost and upload rate against memcpy bandwidth.
add_executable(bench_render ${CMAKE_CURRENT_LIST_DIR}/bench_render.cpp)
target_link_libraries(bench_render PRIVATE recorderlib Qt6::Test)
target_compile_definitions(bench_render PRIVATE BENCH_SCENE="${CMAKE_SOURCE_DIR}/tests/render/mixerscene.qml")
recorder_warnings(bench_render)

# The whole application's window: CPU, frames drawn, memory and start-up, from outside.
add_executable(bench_window ${CMAKE_CURRENT_LIST_DIR}/bench_window.cpp)
target_link_libraries(bench_window PRIVATE Qt6::Core Qt6::Network Qt6::Test)
target_compile_definitions(bench_window PRIVATE APP_PATH="$<TARGET_FILE:StavelinRecorder>")
add_dependencies(bench_window StavelinRecorder)
recorder_warnings(bench_window)
