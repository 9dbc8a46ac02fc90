find_package(GTest REQUIRED)
include(GoogleTest)

# brevanto_add_gtest(<name> SOURCES ... LIBS ... [MYSQL|BINLOG])
# One test program per folder; each TEST becomes one CTest test. MYSQL marks programs that
# need the throw-away MariaDB servers: their tests get the label mysql, require the mariadb
# fixture (tests/mariadb/Fixtures.cmake) and hold the lock "mariadb_servers", so they run
# one at a time against the shared servers while other tests run beside them. BINLOG marks
# programs that need only the server writing a binary log (fixture mariadb_binlog).
function(brevanto_add_gtest name)
  cmake_parse_arguments(ARG "MYSQL;BINLOG" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} brevanto_test_support GTest::gtest GTest::gtest_main GTest::gmock brevanto_warnings)
  if(ARG_BINLOG)
    # Only the server that writes a binary log (its own fixture and lock).
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS mysql FIXTURES_REQUIRED mariadb_binlog RESOURCE_LOCK mariadb_binlog TIMEOUT 300
                 ENVIRONMENT "BREVANTO_TEST_SERVERS=${BREVANTO_TEST_SERVER_ENV}")
  elseif(ARG_MYSQL)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS mysql FIXTURES_REQUIRED mariadb RESOURCE_LOCK mariadb_servers TIMEOUT 300
                 ENVIRONMENT "BREVANTO_TEST_SERVERS=${BREVANTO_TEST_SERVER_ENV}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# brevanto_add_qtest(<name> SOURCES ... LIBS ...)
# A QtTest program, run as one CTest test (label ui) on the offscreen platform: no display needed.
function(brevanto_add_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(Qt6 REQUIRED COMPONENTS Test Widgets)
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} brevanto_test_support Qt6::Test Qt6::Widgets brevanto_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ui TIMEOUT 300
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8")
endfunction()
