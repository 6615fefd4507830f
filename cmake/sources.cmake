# The updater's logic: one list for the program and for its tests.
set(UPDATER_LOGIC_SOURCES
  app/messages.cpp
  app/run_updater.cpp
  app/screen_text.cpp
  app/text_format.cpp
  app/update_build.cpp
  fingerprint/checksum.cpp
  fingerprint/checksum_kernel.cpp
  fingerprint/records.cpp
  fingerprint/verification.cpp
  install/entry_list_merge.cpp
  install/free_space.cpp
  install/installation_run.cpp
  install/payload.cpp
  profile/profile_file.cpp
  ui/progress_dialog.cpp
)
list(TRANSFORM UPDATER_LOGIC_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")
