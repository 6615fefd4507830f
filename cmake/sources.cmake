# The updater's logic, from the ground up: one list for the program and for
# its tests.
set(UPDATER_LOGIC_SOURCES
  base/processor_brand.cpp
  base/text_format.cpp
  base/zstd_stream.cpp
  core/messages.cpp
  core/screen_text.cpp
  core/updater_state.cpp
  files/checked_open.cpp
  files/held_folders.cpp
  files/read_pieces.cpp
  files/write_all.cpp
  fingerprint/checksum.cpp
  fingerprint/checksum_kernel.cpp
  fingerprint/records.cpp
  fingerprint/verification.cpp
  install/targets/switch_targets.cpp
  install/switch/file_switch.cpp
  install/switch/old_copy_fate.cpp
  install/switch/run_start.cpp
  install/switch/switch_journal.cpp
  install/source/delta_format.cpp
  install/source/delta_identify.cpp
  install/source/payload.cpp
  install/source/payload_hashes.cpp
  install/source/payload_hashes_format.cpp
  install/source/piece_source.cpp
  install/run/entry_list_merge.cpp
  install/run/entry_list_text.cpp
  install/run/file_writer.cpp
  install/run/free_space.cpp
  install/run/installation_run.cpp
  install/run/run_progress.cpp
  profile/install_folder_check.cpp
  profile/profile_text_edit.cpp
  profile/profile_file.cpp
  ui/progress_dialog.cpp
  ui/progress_view.cpp
  app/run_updater.cpp
)
list(TRANSFORM UPDATER_LOGIC_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")
# The build constants, made from the description file (cmake/update_build.cmake).
list(APPEND UPDATER_LOGIC_SOURCES "${CMAKE_BINARY_DIR}/generated/update_build.cpp")
include(cmake/update_build.cmake)

add_library(updater_logic STATIC ${UPDATER_LOGIC_SOURCES})
target_include_directories(updater_logic PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(updater_logic PRIVATE ${UPDATER_CHARSET})
# The payload decoder (base/zstd_stream.cpp wraps it).
include(cmake/zstd.cmake)
target_link_libraries(updater_logic PUBLIC zstd_decode)
