# Tests of the audio monitoring.
recorder_add_test(tst_ndidevice SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ndidevice.cpp HEADLESS TIMEOUT 120)
recorder_add_test(tst_slotlistaudiohelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_slotlistaudiohelper.cpp HEADLESS TIMEOUT 120)
if(RECORDER_SANITIZE STREQUAL "thread")
    set_tests_properties(tst_ndidevice tst_slotlistaudiohelper PROPERTIES ENVIRONMENT
        "TSAN_OPTIONS=die_after_fork=0 ignore_noninstrumented_modules=1 suppressions=${CMAKE_SOURCE_DIR}/tests/render/tsan.supp")
endif()
