# Benchmarks: programs that print figures, run by hand (tools/bench.sh).
find_package(benchmark REQUIRED)
add_executable(checksum_bench "${PROJECT_SOURCE_DIR}/bench/checksum_bench.cpp")
target_link_libraries(checksum_bench PRIVATE updater_logic benchmark::benchmark Threads::Threads)
