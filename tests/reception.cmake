# The trap callbacks: formatting and the queued hand-over to the GUI thread.
add_qt_test(tst_trapcallbacks
    SOURCES tst_trapcallbacks.cpp
    LIBS reception nrvapi_fake)
