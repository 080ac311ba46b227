# One run of the real program in a real X window (Xvfb, openbox, trayer).
add_test(NAME realwindow COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/realwindow.sh $<TARGET_FILE:ventrix>)
set_tests_properties(realwindow PROPERTIES TIMEOUT 120 LABELS gui
    ENVIRONMENT "SHOTS=${CMAKE_BINARY_DIR}/screenshots;LC_ALL=C.UTF-8")
# The same program in a Wayland session: weston with XWayland and a StatusNotifierItem host.
add_test(NAME wayland COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wayland.sh $<TARGET_FILE:ventrix>)
set_tests_properties(wayland PROPERTIES TIMEOUT 60 LABELS gui
    ENVIRONMENT "SHOTS=${CMAKE_BINARY_DIR}/screenshots;LC_ALL=C.UTF-8")
