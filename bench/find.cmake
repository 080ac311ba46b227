# Finding text in a view of a million lines: time to the match, the longest freeze.
add_executable(bench_find ${CMAKE_CURRENT_SOURCE_DIR}/bench_find.cpp)
# The window code comes along with the find bar (one moc object): the stand-in library serves it.
target_link_libraries(bench_find PRIVATE app_lib reception nrvapi_fake Qt6::Widgets ventrix_warnings)
