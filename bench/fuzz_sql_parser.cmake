# The Jet SQL parser under libFuzzer, with AddressSanitizer and UBSan. Only
# with -DVELQUIN_FUZZ=ON and clang; run it with bench/fuzz-sql-parser.
if(VELQUIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELQUIN_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # The front end's sources are compiled again with the sanitizers.
  file(GLOB fuzz_sql_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/jet/sql/*.cc)
  list(FILTER fuzz_sql_sources EXCLUDE REGEX "/fuzz_[^/]*\\.cc$")
  # The executor (and the column defaults, evaluated through it) needs the
  # storage engine; the parser target fuzzes the front end only.
  list(FILTER fuzz_sql_sources EXCLUDE REGEX "/(executor|default_value)[^/]*\\.cc$")
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
