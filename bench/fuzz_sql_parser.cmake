# The Jet SQL parser under libFuzzer, with AddressSanitizer and UBSan. Only
# with -DVELQUIN_FUZZ=ON and clang; run it with bench/fuzz-sql-parser.
if(VELQUIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELQUIN_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # The front end's sources are compiled again with the sanitizers: the
  # lexer, the parser, the formatter, names, date texts and the saved-query
  # rows (with the values the stored rows hold). The executor, the evaluator
  # and the functions need the storage engine; this target fuzzes the front
  # end only.
  set(fuzz_sql_sources)
  foreach(name lexer parser format names datetime_text saved_query)
    list(APPEND fuzz_sql_sources ${CMAKE_SOURCE_DIR}/src/jet/sql/${name}.cc)
  endforeach()
  list(APPEND fuzz_sql_sources ${CMAKE_SOURCE_DIR}/src/jet/table/value.cc)
  add_executable(fuzz_sql_parser ${CMAKE_SOURCE_DIR}/src/jet/sql/fuzz_sql_parser.cc
                                 ${fuzz_sql_sources})
  # It compiles the engine's own sources, so it takes the engine's headers
  # without linking its library.
  target_link_libraries(fuzz_sql_parser PRIVATE velquin_base)
  target_include_directories(fuzz_sql_parser
    PRIVATE $<TARGET_PROPERTY:velquin_jet,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_options(fuzz_sql_parser PRIVATE -fsanitize=fuzzer,address,undefined
                                                 -fno-sanitize-recover=undefined)
  target_link_options(fuzz_sql_parser PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
