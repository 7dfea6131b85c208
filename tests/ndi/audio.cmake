# Tests of the audio monitoring.
recorder_add_test(tst_ndidevice SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndidevice.cpp HEADLESS TIMEOUT 120)
recorder_add_test(tst_slotlistaudiohelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_slotlistaudiohelper.cpp HEADLESS TIMEOUT 120)
