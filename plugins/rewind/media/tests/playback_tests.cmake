# Tests of the playback side against a real archive folder.
if(TARGET nyx_archive)
  add_library(rewind_playback_testsupport INTERFACE)
  target_include_directories(rewind_playback_testsupport INTERFACE ${CMAKE_CURRENT_LIST_DIR}
    ${CMAKE_SOURCE_DIR}/platform/archive/tests ${CMAKE_SOURCE_DIR}/platform/multimedia/source/tests)
  target_link_libraries(rewind_playback_testsupport INTERFACE rewind_playback nyx_archive)
  tundra_add_test(NAME tst_rewindsourcemf LABEL media TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_rewindsourcemf.cpp ${CMAKE_CURRENT_LIST_DIR}/playbacktesthelpers.h
    LIBS rewind_playback_testsupport)
endif()
if(TARGET nyx_archive AND TARGET rewind_service_testsupport)
  tundra_add_test(NAME tst_rewindsource LABEL media TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_rewindsource.cpp
    LIBS rewind_playback_testsupport rewind_service_testsupport Qt5::Qml)
endif()
if(TARGET nyx_archive AND TARGET rewind_service_testsupport)
  tundra_add_test(NAME tst_rewindplayback LABEL media TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_rewindplayback.cpp
    LIBS rewind_playback_testsupport rewind_service_testsupport Qt5::Qml)
  target_include_directories(tst_rewindplayback PRIVATE ${CMAKE_SOURCE_DIR}/platform/multimedia)
endif()
# A replay started at a position through the real decoder and a paced output.
if(TARGET nyx_archive AND TARGET rewind_service_testsupport AND TARGET nyx_media_nodes)
  tundra_add_test(NAME tst_replayseek LABEL media TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_replayseek.cpp ${CMAKE_CURRENT_LIST_DIR}/shownframes.h
      ${CMAKE_CURRENT_LIST_DIR}/replaytypes.h
    LIBS rewind_playback_testsupport rewind_service_testsupport nyx_media_nodes nyx_media_engines Qt5::Qml)
  target_include_directories(tst_replayseek PRIVATE ${CMAKE_SOURCE_DIR}/platform/multimedia)
endif()

# The decoding streams: H.264 of other recorders, codec-compressed video and raw audio.
if(TARGET nyx_archive AND TARGET nyx_codecs_testsamples)
  target_include_directories(nyx_codecs_testsamples PUBLIC ${CMAKE_SOURCE_DIR}/platform/codecs/tests)
  foreach(_test tst_rewindsourcestream2avc tst_rewindsourcestream2codec tst_rewindsourcestream2audio)
    if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${_test}.cpp)
      tundra_add_test(NAME ${_test} LABEL media TIMEOUT 300
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_test}.cpp ${CMAKE_CURRENT_LIST_DIR}/decodingtesthelpers.h
        LIBS rewind_playback_testsupport nyx_codecs_testsamples)
    endif()
  endforeach()
endif()
