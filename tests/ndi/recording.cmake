# Tests of recording process control, drive space monitoring and the recording program.
recorder_add_test(tst_drivemonitor SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_drivemonitor.cpp TIMEOUT 120)
recorder_add_test(tst_recordingprogram SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recordingprogram.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recorderrun.h ${CMAKE_CURRENT_LIST_DIR}/recorderrun.cpp TIMEOUT 300 DEPENDS ndi_record)
