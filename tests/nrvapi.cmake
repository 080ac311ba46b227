# The real trap library against net-snmp's clients (snmptrap, snmpinform) over loopback.
add_qt_test(tst_nrvapi
    SOURCES tst_nrvapi.cpp
    LIBS nrvapi Qt6::Network
    TIMEOUT 300)
add_dependencies(tst_nrvapi ventrix-traps)
