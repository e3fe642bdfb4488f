// A plain copy loop on several threads, for the bench's case "a share with
// latency": what overlapping the copies alone gains, without any check, order
// or durability (the bench runs `sync` after it).
//
//   copy_threads THREADS SOURCE DESTINATION
//
// Makes DESTINATION and copies every regular file of SOURCE into it, the
// threads taking the next file in turn. Exit code 1 when a copy failed, 2 on
// bad arguments or an unreadable SOURCE.
//
// Built by bench/bench.py: g++ -std=c++20 -pthread copy_threads.cpp
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int threads = argc == 4 ? std::atoi(argv[1]) : 0;
  std::error_code error;
  std::vector<fs::path> names;
  if (threads > 0) {
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[2], error)) {
      if (entry.is_regular_file()) names.push_back(entry.path().filename());
    }
  }
  if (threads <= 0 || error || !fs::create_directory(argv[3], error)) {
    std::fprintf(stderr, "usage: copy_threads THREADS SOURCE DESTINATION (a new folder)%s%s\n", error ? ": " : "",
                 error ? error.message().c_str() : "");
    return 2;
  }
  const fs::path source = argv[2], destination = argv[3];
  std::atomic<std::size_t> next{0}, failed{0};
  std::vector<std::thread> pool;
  for (int i = 0; i < threads; ++i) {
    pool.emplace_back([&] {
      for (std::size_t k; (k = next++) < names.size();) {
        std::error_code copy_error;
        if (!fs::copy_file(source / names[k], destination / names[k], copy_error)) ++failed;
      }
    });
  }
  for (std::thread& thread : pool) thread.join();
  if (failed > 0) std::fprintf(stderr, "%zu of %zu copies failed\n", failed.load(), names.size());
  return failed > 0 ? 1 : 0;
}
