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

add_updater(UpDateDemo "${demo_payload}" "${demo_dir}/generated" "${demo_dir}/bin" EXCLUDE_FROM_ALL)
add_custom_target(demo_payload DEPENDS ${demo_files})
add_dependencies(UpDateDemo demo_payload)
