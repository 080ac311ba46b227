# A log shipper (rsyslog's imfile, configured as docs/rsyslog-forwarding.conf) follows the
# real program's log file across a rotation and a lock. Label "faults": scripts/test.sh
# runs it in the normal build.
add_test(NAME rsyslog COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/rsyslog.py $<TARGET_FILE:ventrix>)
set_tests_properties(rsyslog PROPERTIES TIMEOUT 180 LABELS faults)
