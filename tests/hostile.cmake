# Hostile input into the real program: random and mutated datagrams into both ports, and
# a MIB folder of broken modules. Label "hostile": scripts/test.sh runs it in the
# sanitizer build. VENTRIX_HOSTILE_COUNT sets the datagrams per port.
set(VENTRIX_HOSTILE_COUNT 100000 CACHE STRING "Datagrams per port that tst_hostile sends")
add_qt_test(tst_hostile
    SOURCES tst_hostile.cpp faultsupport.h
    LIBS Qt6::Network
    TIMEOUT 1200
    LABELS hostile)
target_compile_definitions(tst_hostile PRIVATE EVENTLOG_HELPER="$<TARGET_FILE:eventlog_helper>")
add_dependencies(tst_hostile ventrix nrvapi)
set_property(TEST tst_hostile APPEND PROPERTY ENVIRONMENT VENTRIX_HOSTILE_COUNT=${VENTRIX_HOSTILE_COUNT})
set_tests_properties(tst_hostile PROPERTIES RUN_SERIAL TRUE) # a flood: alone, not beside timed suites
