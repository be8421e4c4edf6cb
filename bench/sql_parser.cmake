# Speed of the Jet SQL front end on INSERT statements (built on demand).
add_executable(bench_sql_parser EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/sql_parser_bench.cc)
target_link_libraries(bench_sql_parser PRIVATE velquin_jet)
