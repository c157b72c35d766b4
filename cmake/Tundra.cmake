# Build helpers shared by every module.

set(TUNDRA_TEST_DIR ${CMAKE_BINARY_DIR}/tests)
set(TUNDRA_TESTDATA_DIR ${CMAKE_BINARY_DIR}/testdata)

# tundra_add_test(NAME n LABEL module SOURCES ... [LIBS ...] [DISPLAY] [TIMEOUT s] [ENV k=v ...])
# A QtTest or GoogleTest executable run by ctest. Every test gets its own data folders
# (XDG_DATA_HOME, XDG_CONFIG_HOME) under testdata/<name>; DISPLAY tests run on an X server
# (the one in DISPLAY, or a fresh Xvfb), the others on the offscreen platform.
function(tundra_add_test)
  cmake_parse_arguments(T "DISPLAY" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_LABEL)
    message(FATAL_ERROR "tundra_add_test(${T_NAME}): LABEL is required")
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TUNDRA_TEST_DIR})
  target_link_libraries(${T_NAME} PRIVATE Qt5::Test tundra_testsupport ${T_LIBS})
  set(_display)
  if(T_DISPLAY)
    set(_display DISPLAY)
  endif()
  tundra_add_test_run(NAME ${T_NAME} TARGET ${T_NAME} LABEL ${T_LABEL} ${_display} TIMEOUT "${T_TIMEOUT}"
    ENV ${T_ENV})
endfunction()

# tundra_add_test_run(NAME n TARGET test LABEL module [DISPLAY] [TIMEOUT s] [ENV k=v ...])
# One more ctest run of a test executable, e.g. under another render loop or scene-graph backend;
# ENV is applied after the defaults, so it can replace them.
function(tundra_add_test_run)
  cmake_parse_arguments(T "DISPLAY" "NAME;TARGET;LABEL;TIMEOUT" "ENV" ${ARGN})
  if(T_DISPLAY)
    add_test(NAME ${T_NAME} COMMAND ${CMAKE_SOURCE_DIR}/cmake/with-display.sh $<TARGET_FILE:${T_TARGET}>)
    set(_platform "QSG_RENDER_LOOP=basic")
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_TARGET})
    set(_platform "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software;QSG_RENDER_LOOP=basic")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(_data ${TUNDRA_TESTDATA_DIR}/${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${_platform};XDG_DATA_HOME=${_data}/data;XDG_CONFIG_HOME=${_data}/config;XDG_CACHE_HOME=${_data}/cache;TUNDRA_BIN_DIR=${TUNDRA_BIN_DIR};TUNDRA_TEST_DATA=${_data};ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;${T_ENV}")
endfunction()

# tundra_add_qml_plugin(TARGET t URI Module.Name SOURCES ... [QMLDIR file] [FILES qml/js files])
# A QML extension plugin installed as bin/plugins/<Module/Name>/ with its qmldir.
function(tundra_add_qml_plugin)
  cmake_parse_arguments(P "" "TARGET;URI;QMLDIR" "SOURCES;FILES" ${ARGN})
  string(REPLACE "." "/" _path ${P_URI})
  set(_dir ${TUNDRA_PLUGIN_DIR}/${_path})
  add_library(${P_TARGET} SHARED ${P_SOURCES})
  set_target_properties(${P_TARGET} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${_dir})
  target_link_libraries(${P_TARGET} PRIVATE Qt5::Core Qt5::Qml)
  if(NOT P_QMLDIR)
    set(P_QMLDIR qmldir)
  endif()
  configure_file(${P_QMLDIR} ${_dir}/qmldir COPYONLY)
  foreach(f ${P_FILES})
    configure_file(${f} ${_dir}/${f} COPYONLY)
  endforeach()
endfunction()

# tundra_add_fuzzer(NAME n LABEL module SOURCES ... [LIBS ...] [CORPUS seed-dir] [SECONDS s] [OPTIONS ...]
#                   [ENV k=v ...])
# A libFuzzer target (with AddressSanitizer and UndefinedBehaviorSanitizer), built with TUNDRA_FUZZ
# (clang). Each one is also a ctest test labelled "fuzz" that runs it for a bounded time.
if(TUNDRA_FUZZ AND NOT TARGET tundra_fuzzers)
  add_custom_target(tundra_fuzzers)
endif()
function(tundra_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;LABEL;CORPUS;SECONDS" "SOURCES;LIBS;OPTIONS;ENV" ${ARGN})
  if(NOT TUNDRA_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  add_dependencies(tundra_fuzzers ${F_NAME})
  if(NOT F_SECONDS)
    set(F_SECONDS 30)
  endif()
  if(NOT F_LABEL)
    set(F_LABEL fuzz)
  endif()
  set(_corpus ${CMAKE_BINARY_DIR}/fuzz/${F_NAME}-corpus)
  file(MAKE_DIRECTORY ${_corpus})
  set(_seeds)
  if(F_CORPUS)
    set(_seeds ${F_CORPUS})
  endif()
  add_test(NAME ${F_NAME} COMMAND ${F_NAME} -max_total_time=${F_SECONDS}
    -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz/${F_NAME}- ${F_OPTIONS} ${_corpus} ${_seeds})
  set_tests_properties(${F_NAME} PROPERTIES LABELS "${F_LABEL};fuzz" TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0;${F_ENV}")
endfunction()

# tundra_add_benchmark(NAME n SOURCES ... [LIBS ...]): a benchmark program in bench/ (not a test).
function(tundra_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT TUNDRA_BENCHMARKS)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS})
endfunction()
