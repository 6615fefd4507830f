# UpDate.exe for the demonstration and the whole-run benchmark: its payload is
# the sample game's new version grown to 192 MiB (with the same record, so
# the new fingerprint module still describes it), so that the progress
# window stays on screen long enough to be seen. Built on request only:
#   cmake --build build/windows --target UpDateDemo   ->  build/windows/demo/bin/UpDate.exe
set(DEMO_PAYLOAD_SIZE 201326592 CACHE STRING "Size in bytes of the demonstration's game executable")
set(demo_dir "${CMAKE_BINARY_DIR}/demo")
set(demo_payload "${demo_dir}/payload")
set(demo_files "${demo_payload}/LMH.exe" "${demo_payload}/dll/RESOURCE.dll")
set(sample_new "${CMAKE_BINARY_DIR}/sample/new")
add_custom_command(
  OUTPUT ${demo_files}
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${demo_payload}/dll"
  COMMAND "${CMAKE_COMMAND}" -E copy "${sample_new}/LMH.exe" "${demo_payload}/LMH.exe"
  COMMAND "${FPTOOL}" pad "${demo_payload}/LMH.exe" ${DEMO_PAYLOAD_SIZE} ${SAMPLE_NEW_GAME_SUM} ${SAMPLE_NEW_GAME_XOR}
  COMMAND "${CMAKE_COMMAND}" -E copy "${sample_new}/dll/RESOURCE.dll" "${demo_payload}/dll/RESOURCE.dll"
  COMMAND "${FPTOOL}" check "${demo_payload}/dll/RESOURCE.dll" "${demo_payload}/LMH.exe"
  DEPENDS "${sample_new}/LMH.exe" "${sample_new}/dll/RESOURCE.dll" "${FPTOOL}"
  COMMENT "Demonstration payload: the new sample version grown to ${DEMO_PAYLOAD_SIZE} bytes"
  VERBATIM)

updater_payload(UpDateDemo "${demo_payload}" "${demo_dir}/generated" demo_payload_files)
# A script of its own, so that it is rebuilt when the demonstration payload changes.
file(WRITE "${demo_dir}/generated/updater_demo.rc" "#include \"res/updater.rc\"\n")
set_source_files_properties("${demo_dir}/generated/updater_demo.rc" PROPERTIES
  OBJECT_DEPENDS "${UpDateDemo_payload_checked};${PROJECT_SOURCE_DIR}/res/updater.rc")
add_executable(UpDateDemo WIN32 EXCLUDE_FROM_ALL
  platform/platform_win32.cpp
  platform/win32_entry.cpp
  "${demo_dir}/generated/updater_demo.rc")
target_compile_options(UpDateDemo PRIVATE ${UPDATER_WARNINGS})
target_include_directories(UpDateDemo PRIVATE "${PROJECT_SOURCE_DIR}" "${demo_dir}/generated")
target_link_libraries(UpDateDemo PRIVATE updater_logic)
target_link_options(UpDateDemo PRIVATE ${UPDATER_STATIC_LINK} -s)
set_target_properties(UpDateDemo PROPERTIES OUTPUT_NAME UpDate RUNTIME_OUTPUT_DIRECTORY "${demo_dir}/bin")
add_custom_target(demo_payload DEPENDS ${demo_files})
add_dependencies(UpDateDemo demo_payload)
