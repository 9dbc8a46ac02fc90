find_package(GTest REQUIRED)
include(GoogleTest)

# brevanto_add_gtest(<name> SOURCES ... LIBS ... [MYSQL])
# One test program per folder; MYSQL marks tests that need the throw-away MariaDB servers.
function(brevanto_add_gtest name)
  cmake_parse_arguments(ARG "MYSQL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} brevanto_test_support GTest::gtest GTest::gtest_main GTest::gmock brevanto_warnings)
  if(ARG_MYSQL)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS mysql FIXTURES_REQUIRED mariadb ENVIRONMENT "BREVANTO_TEST_SERVERS=${BREVANTO_TEST_SERVER_ENV}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
