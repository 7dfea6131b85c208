# Audio monitoring: the device the sound output pulls from, its player thread and the helper that
# picks the listened slot and meters all others.
target_sources(recorderlib PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ndidevice.h ${CMAKE_CURRENT_LIST_DIR}/ndidevice.cpp
    ${CMAKE_CURRENT_LIST_DIR}/audioplayer.h ${CMAKE_CURRENT_LIST_DIR}/audioplayer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slotlistaudiohelper.h ${CMAKE_CURRENT_LIST_DIR}/slotlistaudiohelper.cpp
)
