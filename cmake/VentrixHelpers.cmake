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
