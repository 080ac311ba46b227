# The main window against the stand-in trap library.
add_qt_test(tst_mainwindow RESOURCES
    SOURCES tst_mainwindow.cpp testsupport.h
    LIBS app_lib nrvapi_fake)

add_qt_test(tst_platform
    SOURCES tst_platform.cpp
    LIBS platform)

add_qt_test(tst_geometry
    SOURCES tst_geometry.cpp
    LIBS app_lib nrvapi_fake)

add_qt_test(tst_receivers RESOURCES
    SOURCES tst_receivers.cpp testsupport.h
    LIBS app_lib nrvapi_fake)

add_qt_test(tst_tray RESOURCES
    SOURCES tst_tray.cpp testsupport.h notificationstandin.h
    LIBS app_lib nrvapi_fake)

add_qt_test(tst_commands RESOURCES
    SOURCES tst_commands.cpp testsupport.h
    LIBS app_lib nrvapi_fake)
