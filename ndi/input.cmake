# Discovery, sources model, receiver and the element reader.
target_sources(recorderlib PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/xmlelementreader.h ${CMAKE_CURRENT_LIST_DIR}/xmlelementreader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ndifind.h ${CMAKE_CURRENT_LIST_DIR}/ndifind.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sourcesmodel.h ${CMAKE_CURRENT_LIST_DIR}/sourcesmodel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/receiver.h
    ${CMAKE_CURRENT_LIST_DIR}/snapshotbuffer.h ${CMAKE_CURRENT_LIST_DIR}/snapshotbuffer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ndireceiver.h ${CMAKE_CURRENT_LIST_DIR}/ndireceiver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/defaultsamplerate.h ${CMAKE_CURRENT_LIST_DIR}/defaultsamplerate.cpp
)
