# The real program with real clients.
add_qt_test(tst_endtoend
    SOURCES tst_endtoend.cpp
    LIBS Qt6::Network platform
    LABELS endtoend)
# Alone: it checks that the instance marker, under its real name, is gone at the end.
set_tests_properties(tst_endtoend PROPERTIES RUN_SERIAL TRUE)
add_dependencies(tst_endtoend ventrix nrvapi)
