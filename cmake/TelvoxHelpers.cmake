# Helper functions shared by the CMake files of Telvox.

# telvox_add_subdirectories(dir...): adds each listed subdirectory that has a CMakeLists.txt,
# so a layer can be filled in step by step without breaking the configuration.
function(telvox_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# What every test process runs with: offscreen, in UTC, with a fixed C.UTF-8 locale.
set(TELVOX_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=UTC;LANG=C.UTF-8;LC_ALL=C.UTF-8;ASAN_OPTIONS=detect_leaks=0")

# A Qt Test run that skipped something and failed nothing: its last line counts the skipped
# functions ("Totals: 5 passed, 0 failed, 1 skipped, ..."). CTest then reports the test as
# skipped rather than passed. A run that failed, or crashed before its totals, stays a failure.
set(TELVOX_TEST_SKIPPED "Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped")

# telvox_add_test(NAME n SOURCES ... LIBRARIES ... [LABELS ...] [TIMEOUT s] [QT])
# Builds one test executable and registers it with CTest. Every test runs offscreen, in UTC,
# with a fixed C.UTF-8 locale and a private program folder, so no test touches the user's data.
# Label `realtime` marks a run on real processes or peers in real time: `ctest -LE realtime`
# is the quick run.
function(telvox_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(home ${CMAKE_BINARY_DIR}/test-homes/${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    SKIP_REGULAR_EXPRESSION "${TELVOX_TEST_SKIPPED}"
    ENVIRONMENT "${TELVOX_TEST_ENVIRONMENT};TELVOX_TEST_TMP=${home};TELVOX_SOURCE_DIR=${PROJECT_SOURCE_DIR};TELVOX_MEDIA_MODULE=$<TARGET_FILE:telvox-media>;TELVOX_PRINT_MODULE=$<TARGET_FILE:telvox-print>")
endfunction()

# Fails the configuration when a library that must not depend on Qt Gui or Widgets does.
function(telvox_check_gui_free)
  foreach(t IN LISTS ARGN)
    if(TARGET ${t})
      get_target_property(deps ${t} LINK_LIBRARIES)
      if(deps)
        foreach(bad Qt6::Gui Qt6::Widgets Qt::Gui Qt::Widgets)
          if(bad IN_LIST deps)
            message(FATAL_ERROR "${t} must not link ${bad}")
          endif()
        endforeach()
      endif()
    endif()
  endforeach()
endfunction()
