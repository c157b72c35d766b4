# The playback side of the media pipeline: the archive source streams, RewindSourceMF and the
# RewindSource graph node.
set(_playback ${CMAKE_CURRENT_LIST_DIR})
add_library(rewind_playback STATIC
  ${_playback}/rewindsourcelogging.h ${_playback}/rewindsourcelogging.cpp
  ${_playback}/irewindsource.h
  ${_playback}/rewindsourcestreambase.h ${_playback}/rewindsourcestreambase.cpp
  ${_playback}/rewindsourcestream.h ${_playback}/rewindsourcestream.cpp
  ${_playback}/rewindstoredformat.h ${_playback}/rewindstoredformat.cpp
  ${_playback}/rewindsourcestream2avc.h ${_playback}/rewindsourcestream2avc.cpp
  ${_playback}/rewindsourcestream2codec.h ${_playback}/rewindsourcestream2codec.cpp
  ${_playback}/rewindsourcestream2audio.h ${_playback}/rewindsourcestream2audio.cpp
  ${_playback}/rewindsourcemf.h ${_playback}/rewindsourcemf.cpp
  ${_playback}/rewindsource.h ${_playback}/rewindsource.cpp)
set_target_properties(rewind_playback PROPERTIES POSITION_INDEPENDENT_CODE ON AUTOMOC ON)
target_include_directories(rewind_playback PUBLIC ${_playback})
target_link_libraries(rewind_playback PUBLIC rewind_media rewind_service nyx_codecs nyx_multimedia nyx_mf nyx_com nyx_win32
  Qt5::Core Qt5::Qml)

if(EXISTS ${_playback}/tests/playback_tests.cmake)
  include(${_playback}/tests/playback_tests.cmake)
endif()
