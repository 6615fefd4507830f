# libFuzzer targets over the parts of the updater that read untrusted bytes.
# Needs clang: the logic is compiled with coverage and sanitizers, the
# targets linked against libFuzzer.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "the fuzz targets need clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()

get_filename_component(FUZZ_REPO_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
include("${CMAKE_CURRENT_LIST_DIR}/targets.cmake")

set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined)

# zstd's decoder, with the same coverage and sanitizers as our code.
set(ZSTD_DECODER_ONLY ON)
include("${FUZZ_REPO_ROOT}/cmake/zstd.cmake")
target_compile_options(zstd_decode PRIVATE -g -fsanitize=fuzzer-no-link ${FUZZ_SANITIZERS})

# Only the sources the targets reach, none of them holding the program's
# code page 932 texts, which clang cannot encode (fuzz_messages.cpp stands in
# for the message boxes).
add_library(fuzz_logic STATIC
  "${FUZZ_REPO_ROOT}/base/text_format.cpp"
  "${FUZZ_REPO_ROOT}/fingerprint/checksum.cpp"
  "${FUZZ_REPO_ROOT}/fingerprint/checksum_kernel.cpp"
  "${FUZZ_REPO_ROOT}/fingerprint/records.cpp"
  "${FUZZ_REPO_ROOT}/install/run/entry_list_text.cpp"
  "${FUZZ_REPO_ROOT}/install/switch/switch_journal.cpp"
  "${FUZZ_REPO_ROOT}/base/pe_resources.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_core.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_file_table.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_durable.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_process.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_windows.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_texts.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_message_boxes.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_memory.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_files.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_handles.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_profile.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/profile_text.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_folders.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/sim_resources.cpp"
  "${FUZZ_REPO_ROOT}/platform/sim/file_view_sim.cpp"
  "${FUZZ_REPO_ROOT}/base/zstd_stream.cpp"
  "${FUZZ_REPO_ROOT}/core/updater_state.cpp"
  "${FUZZ_REPO_ROOT}/files/checked_open.cpp"
  "${FUZZ_REPO_ROOT}/files/held_folders.cpp"
  "${FUZZ_REPO_ROOT}/profile/profile_text_edit.cpp"
  "${FUZZ_REPO_ROOT}/install/source/payload.cpp"
  "${FUZZ_REPO_ROOT}/install/source/piece_source.cpp"
  "${FUZZ_REPO_ROOT}/install/source/delta_format.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/fuzz_messages.cpp"
)
target_include_directories(fuzz_logic PUBLIC "${FUZZ_REPO_ROOT}")
target_compile_options(fuzz_logic PUBLIC -g -fno-omit-frame-pointer ${FUZZ_SANITIZERS} PRIVATE -fsanitize=fuzzer-no-link)
target_link_options(fuzz_logic PUBLIC ${FUZZ_SANITIZERS})
target_link_libraries(fuzz_logic PUBLIC zstd_decode)

foreach(name IN LISTS FUZZ_TARGETS)
  add_executable(fuzz_${name} "${CMAKE_CURRENT_LIST_DIR}/fuzz_${name}.cpp")
  target_compile_options(fuzz_${name} PRIVATE -Wall -Wextra -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${name} PRIVATE fuzz_logic)
endforeach()
