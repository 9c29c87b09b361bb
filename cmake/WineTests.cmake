# Tests of a cross build run under the emulator (wine) with a prefix of the
# build's own: made quietly once before the first test, and its wineserver
# stopped after the last.
set(QUILLON_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
set(QUILLON_WINE_ENVIRONMENT
    "WINEPREFIX=${QUILLON_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
    "QUILLON_BINARY_DIR=${PROJECT_BINARY_DIR}")
get_filename_component(_wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
find_program(QUILLON_WINESERVER NAMES wineserver wineserver64 PATHS ${_wine_dir} /usr/lib/wine
             NO_DEFAULT_PATH)

add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
# -k fails when the server has ended already; -w then waits until it has.
add_test(NAME wine_stop COMMAND sh -c "\"$1\" -k; \"$1\" -w" sh ${QUILLON_WINESERVER})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT
                                            "${QUILLON_WINE_ENVIRONMENT}" LABELS "unit;integration;program")
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT
                                          "${QUILLON_WINE_ENVIRONMENT}" LABELS "unit;integration;program")

# Gives a test the prefix and the fixture that makes and stops it.
function(quillon_emulated_test name)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT
                                          "${QUILLON_WINE_ENVIRONMENT}")
endfunction()

# The program loads the socket library at run time and carries its own C++
# runtime: its import table names neither.
add_test(NAME quillon_imports COMMAND ${CMAKE_OBJDUMP} -p $<TARGET_FILE:quillon>)
set_tests_properties(quillon_imports PROPERTIES LABELS unit
  PASS_REGULAR_EXPRESSION "DLL Name: KERNEL32"
  FAIL_REGULAR_EXPRESSION "DLL Name: ([Ww][Ss]2_32|[Ww][Ss][Oo][Cc][Kk]32|lib(stdc|gcc|winpthread))")

# The program itself under wine, tracing loopback (raw sockets as root, else the
# ICMP service): with its output redirected it prints the plain table once,
# without escape sequences.
string(ASCII 27 _escape)
add_test(NAME quillon_exe_plain_table COMMAND quillon --terminal -w 2000 127.0.0.1)
set_tests_properties(quillon_exe_plain_table PROPERTIES LABELS program
  PASS_REGULAR_EXPRESSION "\n *1 +127\\.0\\.0\\.1 "
  FAIL_REGULAR_EXPRESSION "${_escape}")
quillon_emulated_test(quillon_exe_plain_table)

# Wine has no TCP_FAIL_CONNECT_ON_ICMP_ERROR: TCP probes are refused before
# the trace, naming the method that works, as every system without it does.
add_test(NAME quillon_exe_tcp_refused COMMAND quillon --terminal --tcp 127.0.0.1)
set_tests_properties(quillon_exe_tcp_refused PROPERTIES LABELS program
  PASS_REGULAR_EXPRESSION "Cannot trace 127\\.0\\.0\\.1: TCP probes need Windows 10 version 2004 or later.*trace with ICMP")
quillon_emulated_test(quillon_exe_tcp_refused)
