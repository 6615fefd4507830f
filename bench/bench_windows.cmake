# The Windows side of the whole-run benchmark (bench/run_bench.py): built on request.
add_executable(copy_file EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/bench/copy_file.cpp")
add_executable(process_memory EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/bench/process_memory.cpp")
add_executable(pump_floor EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/bench/pump_floor.cpp")
foreach(t copy_file process_memory pump_floor)
  set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
endforeach()
target_link_libraries(process_memory PRIVATE psapi)

# The checksum benchmark as the shipped 32-bit program runs it.
add_executable(checksum_bench_plain EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/bench/checksum_bench_plain.cpp")
target_include_directories(checksum_bench_plain PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(checksum_bench_plain PRIVATE updater_logic)
set_target_properties(checksum_bench_plain PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")

# The decoding part of a compressed update's limit: the updater's own decoder.
add_executable(decode_frame EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/bench/decode_frame.cpp")
target_include_directories(decode_frame PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(decode_frame PRIVATE updater_logic)
set_target_properties(decode_frame PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")

# The decoding part of a delta update's limit, and its memory beside the
# mapped reference (bench/delta_bench.py).
add_executable(decode_delta EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/bench/decode_delta.cpp")
target_include_directories(decode_delta PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(decode_delta PRIVATE updater_logic psapi)
set_target_properties(decode_delta PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
