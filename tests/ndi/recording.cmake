# Tests of recording process control, drive space monitoring and the recording program.
recorder_add_test(tst_drivemonitor SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_drivemonitor.cpp TIMEOUT 120)
