# Tests of recording process control, drive space monitoring and the recording program.
recorder_add_test(tst_drivemonitor SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_drivemonitor.cpp TIMEOUT 120)
recorder_add_test(tst_recordingprogram SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recordingprogram.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recorderrun.h ${CMAKE_CURRENT_LIST_DIR}/recorderrun.cpp TIMEOUT 300 DEPENDS ndi_record)

# A recording program whose reports the test scripts, in a folder of its own.
add_executable(fake_ndi_record ${CMAKE_CURRENT_LIST_DIR}/fakerecorder.cpp)
target_link_libraries(fake_ndi_record PRIVATE Qt6::Core)
set_target_properties(fake_ndi_record PROPERTIES OUTPUT_NAME "NewTek NDI Record" SUFFIX ".exe"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/fakerecorder)
recorder_warnings(fake_ndi_record)
recorder_add_test(tst_ndirecorder SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndirecorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recorderrun.h ${CMAKE_CURRENT_LIST_DIR}/recorderrun.cpp TIMEOUT 300
    DEPENDS ndi_record fake_ndi_record)
target_compile_definitions(tst_ndirecorder PRIVATE FAKE_RECORDER_DIR="${CMAKE_BINARY_DIR}/tests/fakerecorder")
recorder_add_test(tst_recordingsession SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recordingsession.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recorderrun.h ${CMAKE_CURRENT_LIST_DIR}/recorderrun.cpp LIBS ndirecordcore)
recorder_add_test(tst_recorderprotocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recorderprotocol.cpp LIBS ndirecordcore)
