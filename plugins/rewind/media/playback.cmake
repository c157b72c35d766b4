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

if(TARGET nyx_archive)
  tundra_add_benchmark(NAME playback_bench SOURCES ${_playback}/bench/playback_bench.cpp
    LIBS rewind_playback nyx_archive)
  if(TARGET playback_bench)
    target_include_directories(playback_bench PRIVATE ${_playback}/tests ${CMAKE_SOURCE_DIR}/platform/archive/tests
      ${CMAKE_SOURCE_DIR}/platform/multimedia/source/tests)
  endif()
endif()

# Decoding an H.264 stream of another recorder through the whole playback path (not a test).
if(TARGET nyx_archive AND TARGET nyx_codecs_testsamples AND TARGET rewind_playback_testsupport)
  tundra_add_benchmark(NAME decoding_bench SOURCES ${_playback}/bench/decoding_bench.cpp
    LIBS rewind_playback_testsupport nyx_codecs_testsamples)
  if(TARGET decoding_bench)
    target_include_directories(decoding_bench PRIVATE ${_playback}/tests)
  endif()
endif()

# A seek in the client's replay until the frame at the position reaches the view (not a test).
if(TARGET nyx_archive AND TARGET rewind_service_testsupport AND TARGET nyx_media_nodes AND TARGET nyx_kx)
  tundra_add_benchmark(NAME replayseek_bench
    SOURCES ${_playback}/bench/replayseek_bench.cpp ${_playback}/tests/shownframes.h
      ${_playback}/tests/replaytypes.h
    LIBS rewind_playback_testsupport rewind_service_testsupport nyx_media_nodes nyx_media_engines nyx_kx
      Qt5::Qml Qt5::Test)
  if(TARGET replayseek_bench)
    target_include_directories(replayseek_bench PRIVATE ${_playback}/tests ${CMAKE_SOURCE_DIR}/platform/multimedia)
  endif()
endif()

# Built only with -DTUNDRA_FUZZ=ON (clang): the attribute block of other recorders' stream records as
# the codec and audio streams read it. The readers and the block parser are compiled into the target
# so that they carry the fuzzer's coverage instrumentation.
if(TUNDRA_FUZZ)
  tundra_add_fuzzer(NAME fuzz_rewindstoredformat LABEL media
    CORPUS ${_playback}/fuzz/corpus
    OPTIONS -max_len=4096
    SOURCES ${_playback}/fuzz/fuzz_rewindstoredformat.cpp ${_playback}/rewindstoredformat.cpp
      ${CMAKE_SOURCE_DIR}/platform/archive/src/attributestore.cpp
      ${CMAKE_SOURCE_DIR}/platform/archive/src/attributeblock.cpp
      ${CMAKE_SOURCE_DIR}/platform/archive/src/faults.cpp
      ${CMAKE_SOURCE_DIR}/platform/codecs/src/storedformats.cpp
    LIBS nyx_com nyx_win32 Qt5::Core)
  target_include_directories(fuzz_rewindstoredformat PRIVATE ${_playback} ${CMAKE_SOURCE_DIR}/platform
    ${CMAKE_SOURCE_DIR}/platform/archive/src)
endif()

# Built only with -DTUNDRA_FUZZ=ON (clang): frame times and order through the source streams' read loop
# and seeks, on a real archive folder. The streams are compiled into the target so that they carry the
# fuzzer's coverage instrumentation.
if(TUNDRA_FUZZ)
  tundra_add_fuzzer(NAME fuzz_sourcestreams LABEL media
    CORPUS ${_playback}/fuzz/corpus-streams
    OPTIONS -max_len=512 -rss_limit_mb=2048 -timeout=120
    SOURCES ${_playback}/fuzz/fuzz_sourcestreams.cpp ${_playback}/rewindsourcelogging.cpp
      ${_playback}/rewindsourcestreambase.cpp ${_playback}/rewindsourcestream.cpp
      ${_playback}/rewindstoredformat.cpp ${_playback}/rewindsourcestream2avc.cpp
      ${_playback}/rewindsourcestream2codec.cpp ${_playback}/rewindsourcestream2audio.cpp
      ${_playback}/rewindsourcemf.cpp
    LIBS rewind_media rewind_service nyx_codecs nyx_multimedia nyx_mf nyx_com nyx_win32 nyx_archive
      Qt5::Core Qt5::Qml)
  target_include_directories(fuzz_sourcestreams PRIVATE ${_playback} ${_playback}/tests
    ${CMAKE_SOURCE_DIR}/platform/archive/tests ${CMAKE_SOURCE_DIR}/platform/multimedia/source/tests)
endif()
