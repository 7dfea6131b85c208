# Slot set-up and level traffic through the slot list model.
add_executable(bench_slots ${CMAKE_CURRENT_LIST_DIR}/bench_slots.cpp)
target_link_libraries(bench_slots PRIVATE recorderlib)
recorder_warnings(bench_slots)
