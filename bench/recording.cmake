# Benchmarks of this part.
add_executable(bench_recording ${CMAKE_CURRENT_LIST_DIR}/bench_recording.cpp)
target_link_libraries(bench_recording PRIVATE ndirecordcore)
recorder_warnings(bench_recording)
set_target_properties(bench_recording PROPERTIES AUTOMOC OFF)

# The same question for whole recording programs, receiving and writing side by side.
add_executable(bench_recording_processes ${CMAKE_CURRENT_LIST_DIR}/bench_recording_processes.cpp)
target_link_libraries(bench_recording_processes PRIVATE Qt6::Core)
recorder_warnings(bench_recording_processes)
set_target_properties(bench_recording_processes PROPERTIES AUTOMOC OFF)
if(TARGET ndi_record)
    add_dependencies(bench_recording_processes ndi_record)
endif()

# The soak: recordings started and stopped for minutes; the app's memory and threads must stay
# flat. RECORDER_SOAK_SECONDS sets its length (140 s).
add_executable(bench_soak ${CMAKE_CURRENT_LIST_DIR}/bench_soak.cpp)
target_link_libraries(bench_soak PRIVATE testcommon)
recorder_warnings(bench_soak)
add_dependencies(bench_soak StavelinRecorder ndi_record panel_files)

# Sixteen 1080p30 slots recording through the app, written as received and encoded, side by side.
# BENCH_SIXTEEN_SECONDS (600) and BENCH_SIXTEEN_SPLIT_MINUTES (2) set its length.
add_executable(bench_sixteen ${CMAKE_CURRENT_LIST_DIR}/bench_sixteen.cpp)
target_link_libraries(bench_sixteen PRIVATE testcommon)
recorder_warnings(bench_sixteen)
add_dependencies(bench_sixteen StavelinRecorder ndi_record panel_files)
