# Event lines, the log file writer with its queue, and rotation.

# Plays the other programs of the machine: holds locks, reports its locale's date, and
# flushes the queue as an unprivileged user.
add_executable(eventlog_helper ${CMAKE_CURRENT_SOURCE_DIR}/eventlog_helper.cpp)
target_link_libraries(eventlog_helper PRIVATE reception eventlog ventrix_warnings)

add_qt_test(tst_eventline SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_eventline.cpp LIBS reception)
add_qt_test(tst_logwriter SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_logwriter.cpp LIBS eventlog)
foreach(suite tst_eventline tst_logwriter)
    target_compile_definitions(${suite} PRIVATE EVENTLOG_HELPER="$<TARGET_FILE:eventlog_helper>")
    add_dependencies(${suite} eventlog_helper)
endforeach()

add_qt_test(tst_eventoutput SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_eventoutput.cpp LIBS eventlog)
