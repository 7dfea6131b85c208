# Tests of the NDI input layer and the simulated NDI runtime.
recorder_add_test(tst_xmlelementreader SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_xmlelementreader.cpp)
recorder_add_test(tst_ndiruntime SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndiruntime.cpp ${CMAKE_CURRENT_LIST_DIR}/ndisimfile.h)
recorder_add_test(tst_ndifind SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndifind.cpp ${CMAKE_CURRENT_LIST_DIR}/ndisimfile.h)
recorder_add_test(tst_ndireceiver SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndireceiver.cpp ${CMAKE_CURRENT_LIST_DIR}/ndisimfile.h HEADLESS)
