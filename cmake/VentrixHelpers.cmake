# One place for the warning flags: every target of ours links this.
add_library(ventrix_warnings INTERFACE)
target_compile_options(ventrix_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual
    $<$<COMPILE_LANGUAGE:CXX>:-Wsuggest-override>)
if(VENTRIX_WERROR)
    target_compile_options(ventrix_warnings INTERFACE -Werror)
endif()
if(VENTRIX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# add_qt_test(NAME SOURCES a.cpp ... LIBS lib ... [RESOURCES] [TIMEOUT s] [LABELS l])
# Every suite runs offscreen, in a UTF-8 locale, with HOME and XDG folders of its own
# so that no test ever reads or writes the user's real settings or documents. One that
# passes with a case skipped is reported as skipped (scripts/testenv.sh).
function(add_qt_test name)
    cmake_parse_arguments(T "RESOURCES" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ventrix_warnings ${T_LIBS})
    if(T_RESOURCES)
        target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources/ventrix.qrc)
    endif()
    target_compile_definitions(${name} PRIVATE
        VENTRIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VENTRIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
    set(home ${CMAKE_CURRENT_BINARY_DIR}/home/${name})
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/testenv.sh ${home} $<TARGET_FILE:${name}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LANG=C.UTF-8")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# ventrix_install_with_launcher(SOURCE DESTINATION)
# Installs SOURCE into DESTINATION (under the install prefix) with @VENTRIX_LAUNCHER@ made
# the launcher's full path. Both are taken when installing, so that the prefix given to
# `cmake --install --prefix` counts (DESTDIR, a staging folder, is not part of the path).
# DESTINATION may name ${user_units}: systemd's user units, /usr/lib/systemd/user for the
# distribution's prefix, share/systemd/user for any other (~/.local/share/systemd/user is
# where systemd reads a user's own).
function(ventrix_install_with_launcher source destination)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/installed/${name})
    install(CODE "
        set(VENTRIX_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/ventrix\")
        set(user_units ${CMAKE_INSTALL_DATAROOTDIR}/systemd/user)
        if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
            set(user_units lib/systemd/user)
        endif()
        configure_file(\"${source}\" \"${copy}\" @ONLY)
        file(INSTALL \"${copy}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\")")
endfunction()
