# The Windows build's tests: the platform, data and login rooms, built with
# the same compiler and run under Wine (tests/wine/wine-run, a private
# prefix in the build folder). Each test program runs whole as one CTest test.
# Included from tests/CMakeLists.txt when building for Windows.

set(QUERLIN_TESTDB_DIR ${CMAKE_BINARY_DIR}/testdb)
set(QUERLIN_WINE_RUN ${CMAKE_CURRENT_SOURCE_DIR}/wine/wine-run)

add_library(ql_testsupport STATIC testsupport/TestSupport.cpp testsupport/TestDatabaseEnv.cpp testsupport/TestMain.cpp
  testsupport/PrivateServer.cpp)
target_include_directories(ql_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(ql_testsupport PUBLIC GTest::gtest ql_data ql_platform ws2_32)
# Wine shows the Unix root as drive Z:.
target_compile_definitions(ql_testsupport PRIVATE
  QUERLIN_TESTDB_ENV_FILE="Z:${QUERLIN_TESTDB_DIR}/env"
  QUERLIN_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}")

# Tests of what this build leaves out, by GoogleTest filter (the local
# store's), listed in LinuxOnly.cmake.
include(${CMAKE_CURRENT_SOURCE_DIR}/wine/LinuxOnly.cmake)

function(querlin_windows_test_suite dir)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  file(GLOB db_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_dbtest.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM unit_sources ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${excluded})
    list(REMOVE_ITEM db_sources ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${excluded})
  endforeach()
  foreach(kind IN ITEMS unit db)
    if(kind STREQUAL "unit")
      set(name ${dir}_tests)
      set(sources ${unit_sources})
      set(filter "${QUERLIN_LINUX_ONLY_${dir}}")
    else()
      set(name ${dir}_dbtests)
      set(sources ${db_sources})
      set(filter "${QUERLIN_LINUX_ONLY_${dir}_db}")
    endif()
    if(NOT sources)
      continue()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ql_testsupport)
    set(arguments)
    if(filter)
      list(JOIN filter ":" joined)
      set(arguments "--gtest_filter=-${joined}")
    endif()
    add_test(NAME ${name} COMMAND ${QUERLIN_WINE_RUN} ${CMAKE_BINARY_DIR} $<TARGET_FILE:${name}> ${arguments})
    if(kind STREQUAL "db")
      set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED testdb TIMEOUT 900)
    else()
      set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    endif()
  endforeach()
endfunction()

# The test server, as in the Linux build: started before the first database
# test, stopped after the last.
add_test(NAME testdb_start COMMAND ${PROJECT_SOURCE_DIR}/scripts/testdb start ${QUERLIN_TESTDB_DIR})
set_tests_properties(testdb_start PROPERTIES FIXTURES_SETUP testdb TIMEOUT 300)
add_test(NAME testdb_stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/testdb stop ${QUERLIN_TESTDB_DIR})
set_tests_properties(testdb_stop PROPERTIES FIXTURES_CLEANUP testdb TIMEOUT 120)

# The file-backed hive is the registry's Linux stand-in: its tests stay
# Linux-only, and windowsregistry_test runs their tables on the real one.
querlin_windows_test_suite(platform LIBS ql_platform EXCLUDE registry_test.cpp)
querlin_windows_test_suite(data LIBS ql_data)
querlin_windows_test_suite(login LIBS ql_login EXCLUDE registration_test.cpp)
# Of the export, the built-in spreadsheet application: its objects by name
# through the component system, and its cell spool in the system's
# temporary folder.
add_executable(spreadsheet_tests ${CMAKE_CURRENT_SOURCE_DIR}/export/spreadsheet_test.cpp)
target_link_libraries(spreadsheet_tests PRIVATE ql_spreadsheet ql_testsupport)
add_test(NAME spreadsheet_tests COMMAND ${QUERLIN_WINE_RUN} ${CMAKE_BINARY_DIR} $<TARGET_FILE:spreadsheet_tests>)
set_tests_properties(spreadsheet_tests PROPERTIES TIMEOUT 600)
