# The updater's logic: one list for the program and for its tests.
set(UPDATER_LOGIC_SOURCES
  app/messages.cpp
  app/run_updater.cpp
  app/text_format.cpp
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
# The build constants, made from the description file (cmake/update_build.cmake).
list(INSERT UPDATER_LOGIC_SOURCES 3 "${CMAKE_BINARY_DIR}/generated/update_build.cpp")
include(cmake/update_build.cmake)
