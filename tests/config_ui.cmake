# The settings store, and the settings dialog with its form and the images it shows.
add_qt_test(tst_settings
    SOURCES tst_settings.cpp
    LIBS config)

add_qt_test(tst_settingsdialog RESOURCES
    SOURCES tst_settingsdialog.cpp testsupport.h
    LIBS config_ui Qt6::Network)
