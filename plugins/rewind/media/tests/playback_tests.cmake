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
