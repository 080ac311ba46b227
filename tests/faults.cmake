# The real program under faults (locks, rotation, a kill, a vanished folder, a full disk,
# damaged settings) and the window's receiver control under traffic. Label "faults": only
# in the normal build; the window's, with the real trap library, runs under the sanitizers
# too. Floods run alone, not beside the suites that time what the program does.
set(VENTRIX_FAULT_LOCK_SECONDS 5 CACHE STRING "How long tst_faults holds the log file locked (30 for the full run)")
add_qt_test(tst_faults
    SOURCES tst_faults.cpp faultsupport.h
    LIBS eventlog Qt6::Network
    TIMEOUT 900
    LABELS faults)
target_compile_definitions(tst_faults PRIVATE EVENTLOG_HELPER="$<TARGET_FILE:eventlog_helper>")
add_dependencies(tst_faults ventrix nrvapi eventlog_helper)
set_property(TEST tst_faults APPEND PROPERTY ENVIRONMENT VENTRIX_FAULT_LOCK_SECONDS=${VENTRIX_FAULT_LOCK_SECONDS})
set_tests_properties(tst_faults PROPERTIES RUN_SERIAL TRUE)

# In-process with the real trap library: start/stop and settings while traffic flows.
add_qt_test(tst_faults_window RESOURCES
    SOURCES tst_faults_window.cpp testsupport.h faultsupport.h
    LIBS app_lib nrvapi Qt6::Network
    TIMEOUT 600)
target_compile_definitions(tst_faults_window PRIVATE EVENTLOG_HELPER="$<TARGET_FILE:eventlog_helper>")
set_tests_properties(tst_faults_window PROPERTIES RUN_SERIAL TRUE)
