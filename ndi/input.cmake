# Discovery, sources model, receiver and the element reader.
target_sources(recorderlib PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/xmlelementreader.h ${CMAKE_CURRENT_LIST_DIR}/xmlelementreader.cpp
)
