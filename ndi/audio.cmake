target_sources(recorderlib PRIVATE)
