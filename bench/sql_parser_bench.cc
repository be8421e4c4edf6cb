// How fast the Jet SQL front end reads the statements the migration sends
// most: one INSERT per row. Prints statements per second for tokenizing
// alone (the peer: the least any parser must do) and for the full parse.
// Times are the process's CPU time, so that a busy machine does not inflate
// them; the wall time is shown beside.
//   cmake --build build --target bench_sql_parser && build/bench/bench_sql_parser
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "jet/sql/lexer.h"
#include "jet/sql/parser.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Statements(int n) {
  std::vector<std::string> out;
  out.reserve(n);
  for (int i = 0; i < n; ++i) {
    out.push_back("insert into order_lines values (" + std::to_string(i) + "," +
                  std::to_string(i % 977) + ",'2024-01-31 10:20:" + std::to_string(10 + i % 50) +
                  "','Item number " + std::to_string(i) + "',12.50,0x0A0B,NULL)\n");
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const auto statements = Statements(n);

  size_t tokens = 0;
  auto t0 = Clock::now();
  std::clock_t c0 = std::clock();
  for (const std::string& s : statements) tokens += velquin::jet::sql::Tokenize(s).size();
  const double lex_s = double(std::clock() - c0) / CLOCKS_PER_SEC;
  const double lex_wall = std::chrono::duration<double>(Clock::now() - t0).count();

  size_t ok = 0;
  t0 = Clock::now();
  c0 = std::clock();
  for (const std::string& s : statements) ok += velquin::jet::sql::ParseStatement(s).ok();
  const double parse_s = double(std::clock() - c0) / CLOCKS_PER_SEC;
  const double parse_wall = std::chrono::duration<double>(Clock::now() - t0).count();

  std::printf("statements: %d (%zu tokens, %zu parsed)\n", n, tokens, ok);
  std::printf("tokenize only: %.3f s CPU (%.3f s wall), %.0f statements/s\n", lex_s, lex_wall,
              n / lex_s);
  std::printf("full parse:    %.3f s CPU (%.3f s wall), %.0f statements/s, %.2f us each\n", parse_s,
              parse_wall, n / parse_s, parse_s * 1e6 / n);
  std::printf("parse / tokenize: %.2fx\n", parse_s / lex_s);
  return ok == static_cast<size_t>(n) ? 0 : 1;
}
