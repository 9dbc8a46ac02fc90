# The "mariadb" CTest fixture: three throw-away servers started before the first test that
# needs them and stopped after the last one, also when tests fail. Tests declared with
# brevanto_add_gtest(... MYSQL) require it; a run without such tests starts nothing.

set(BREVANTO_TEST_PORT_BASE 33900 CACHE STRING
    "Ports of the test servers are base+1 (A), base+2 (B), base+3 (TLS); change it to test two build trees at once")
set(BREVANTO_TEST_BASEDIR ${CMAKE_BINARY_DIR}/mariadb-test)

math(EXPR _port_a "${BREVANTO_TEST_PORT_BASE} + 1")
math(EXPR _port_b "${BREVANTO_TEST_PORT_BASE} + 2")
math(EXPR _port_tls "${BREVANTO_TEST_PORT_BASE} + 3")
math(EXPR _port_binlog "${BREVANTO_TEST_PORT_BASE} + 4")
# Read by tests/support/TestServer.cpp: A, B, TLS and the binary-log server as host:port.
set(BREVANTO_TEST_SERVER_ENV
    "127.0.0.1:${_port_a},127.0.0.1:${_port_b},127.0.0.1:${_port_tls},127.0.0.1:${_port_binlog}")

set(_testservers ${CMAKE_CURRENT_LIST_DIR}/testservers.sh)
add_test(NAME mariadb_start
         COMMAND ${CMAKE_COMMAND} -E env BREVANTO_TEST_PORT_BASE=${BREVANTO_TEST_PORT_BASE}
                 bash ${_testservers} start ${BREVANTO_TEST_BASEDIR})
add_test(NAME mariadb_stop
         COMMAND ${CMAKE_COMMAND} -E env BREVANTO_TEST_PORT_BASE=${BREVANTO_TEST_PORT_BASE}
                 bash ${_testservers} stop ${BREVANTO_TEST_BASEDIR})
set_tests_properties(mariadb_start PROPERTIES FIXTURES_SETUP mariadb LABELS mysql TIMEOUT 240)
set_tests_properties(mariadb_stop PROPERTIES FIXTURES_CLEANUP mariadb LABELS mysql TIMEOUT 120)
# The "mariadb_binlog" fixture: one more server, writing a binary log, only for the programs
# that ask for it (brevanto_add_gtest(... BINLOG)), so the others start nothing more.
add_test(NAME mariadb_binlog_start
         COMMAND ${CMAKE_COMMAND} -E env BREVANTO_TEST_PORT_BASE=${BREVANTO_TEST_PORT_BASE}
                 bash ${_testservers} start ${BREVANTO_TEST_BASEDIR} binlog)
add_test(NAME mariadb_binlog_stop
         COMMAND ${CMAKE_COMMAND} -E env BREVANTO_TEST_PORT_BASE=${BREVANTO_TEST_PORT_BASE}
                 bash ${_testservers} stop ${BREVANTO_TEST_BASEDIR} binlog)
set_tests_properties(mariadb_binlog_start PROPERTIES FIXTURES_SETUP mariadb_binlog LABELS mysql TIMEOUT 240)
set_tests_properties(mariadb_binlog_stop PROPERTIES FIXTURES_CLEANUP mariadb_binlog LABELS mysql TIMEOUT 120)
