// Small helpers shared by the benchmark programs: clocks, text formatting,
// the location of the public instances, and the summary rows that bench/run
// gathers into one table.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dg::bench {

// The rows of a comma-separated table, its header line left out (blank
// lines skipped, a Windows line end taken off); no rows when the file
// cannot be read.
inline std::vector<std::vector<std::string>> ReadCsvRows(const std::filesystem::path& file) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::istringstream row(line);
    std::string cell;
    while (std::getline(row, cell, ',')) cells.push_back(cell);
    rows.push_back(std::move(cells));
  }
  return rows;
}

// CPU time of the calling thread, in seconds: steadier than the wall clock
// on a machine that other work shares.
inline double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Wall-clock time in seconds.
inline double WallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

inline std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// The value at quantile q (0..1) of the samples, nearest rank.
inline double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(rank, samples.size() - 1)];
}

inline double Median(std::vector<double> samples) { return Quantile(std::move(samples), 0.5); }

// Milliseconds with a precision that suits the magnitude.
inline std::string Ms(double seconds) {
  const double ms = seconds * 1000;
  return Format(ms < 1 ? "%.3f ms" : ms < 100 ? "%.2f ms" : "%.0f ms", ms);
}

// One line of the summary table: figure, this project, reference, ratio.
inline void Row(const std::string& figure, const std::string& ours, const std::string& reference,
                double ratio) {
  std::printf("ROW\t%s\t%s\t%s\t%.2f\n", figure.c_str(), ours.c_str(), reference.c_str(), ratio);
}

// The positive numbers of a comma-separated list ("100,1000,10000").
inline std::vector<int> ParseCounts(const std::string& text) {
  std::vector<int> counts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const int n = std::atoi(text.substr(at, comma - at).c_str());
    if (n > 0) counts.push_back(n);
    at = comma + 1;
  }
  return counts;
}

inline int Usage(const char* text) {
  std::fprintf(stderr, "usage: %s\n", text);
  return 2;
}

// $EXP_BENCHDATA, else ../shared/benchdata beside the source tree.
inline std::filesystem::path DefaultBenchData() {
  if (const char* dir = std::getenv("EXP_BENCHDATA"); dir && *dir) return dir;
  return std::filesystem::path(EXP_SOURCE_DIR).parent_path() / "shared" / "benchdata";
}

}  // namespace dg::bench
