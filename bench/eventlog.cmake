# The log writer and the output step, lines per second and the view's memory.
add_executable(bench_eventlog ${CMAKE_CURRENT_SOURCE_DIR}/bench_eventlog.cpp)
target_link_libraries(bench_eventlog PRIVATE app_lib eventlog reception Qt6::Widgets ventrix_warnings)
