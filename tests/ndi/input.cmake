# Tests of the NDI input layer and the simulated NDI runtime.
recorder_add_test(tst_xmlelementreader SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_xmlelementreader.cpp)
recorder_add_test(tst_ndiruntime SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndiruntime.cpp )
recorder_add_test(tst_ndifind SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndifind.cpp )
recorder_add_test(tst_ndireceiver SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndireceiver.cpp  HEADLESS)

# Under ThreadSanitizer: QProcess forks a multi-threaded process only to exec at once, which is
# safe; tsan.supp lists what uninstrumented libraries synchronise out of its sight.
set_tests_properties(tst_xmlelementreader tst_ndiruntime tst_ndifind tst_ndireceiver PROPERTIES ENVIRONMENT
    "TSAN_OPTIONS=die_after_fork=0 suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
