# The real program with real clients.
add_qt_test(tst_endtoend
    SOURCES tst_endtoend.cpp
    LIBS Qt6::Network
    LABELS endtoend)
add_dependencies(tst_endtoend ventrix nrvapi)
