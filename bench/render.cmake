# Benchmarks of the preview: paint cost and upload rate against memcpy bandwidth.
add_executable(bench_render ${CMAKE_CURRENT_LIST_DIR}/bench_render.cpp)
target_link_libraries(bench_render PRIVATE recorderlib Qt6::Test)
target_compile_definitions(bench_render PRIVATE BENCH_SCENE="${CMAKE_SOURCE_DIR}/tests/render/mixerscene.qml")
recorder_warnings(bench_render)

# Resident memory of the whole application with 16 slots.
add_executable(bench_appmemory ${CMAKE_CURRENT_LIST_DIR}/bench_appmemory.cpp)
target_link_libraries(bench_appmemory PRIVATE Qt6::Core Qt6::Test)
target_compile_definitions(bench_appmemory PRIVATE APP_PATH="$<TARGET_FILE:StavelinRecorder>")
add_dependencies(bench_appmemory StavelinRecorder)
recorder_warnings(bench_appmemory)
