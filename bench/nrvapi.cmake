# The trap library: notifications per second decoded and delivered, and loss, for a burst.
add_executable(bench_traps ${CMAKE_CURRENT_SOURCE_DIR}/bench_traps.cpp)
# net-snmp only builds the burst's datagrams, before the library starts.
target_link_libraries(bench_traps PRIVATE nrvapi PkgConfig::NETSNMP Threads::Threads ventrix_warnings)
target_compile_definitions(bench_traps PRIVATE VENTRIX_MIBS_DIR="${CMAKE_BINARY_DIR}/bin/mibs")
set_target_properties(bench_traps PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
