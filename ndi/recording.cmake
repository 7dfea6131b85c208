# Recording process control and drive space monitoring.
target_sources(recorderlib PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/drivemonitorprovider.h ${CMAKE_CURRENT_LIST_DIR}/drivemonitorprovider.cpp
    ${CMAKE_CURRENT_LIST_DIR}/drivemonitor.h ${CMAKE_CURRENT_LIST_DIR}/drivemonitor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ndirecorder.h ${CMAKE_CURRENT_LIST_DIR}/ndirecorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/processlifetime.h ${CMAKE_CURRENT_LIST_DIR}/processlifetime.cpp
)
