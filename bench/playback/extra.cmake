# The scripted in-memory sources of the playback tests.
target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/playback/PlaybackTestSupport.cpp)
