# UpDate.exe builds with a large payload, built on request only: the sample
# game's new version grown to SIZE bytes (with the same record, so the new
# fingerprint module still describes it).
#   demo_updater(TARGET SIZE DIR [COMPRESSION])  ->  DIR/bin/UpDate.exe, payload in DIR/payload
# COMPRESSION is a description's [Payload] Compression (zstd); left out, the
# files are stored whole.
function(demo_updater target size dir)
  set(UPDATE_PAYLOAD_COMPRESSION "${ARGV3}")
  set(payload "${dir}/payload")
  set(files "${payload}/LMH.exe" "${payload}/dll/RESOURCE.dll")
  set(sample_new "${CMAKE_BINARY_DIR}/sample/new")
  add_custom_command(
    OUTPUT ${files}
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${payload}/dll"
    COMMAND "${CMAKE_COMMAND}" -E copy "${sample_new}/LMH.exe" "${payload}/LMH.exe"
    COMMAND "${FPTOOL}" pad "${payload}/LMH.exe" ${size} ${SAMPLE_NEW_GAME_SUM} ${SAMPLE_NEW_GAME_XOR}
    COMMAND "${CMAKE_COMMAND}" -E copy "${sample_new}/dll/RESOURCE.dll" "${payload}/dll/RESOURCE.dll"
    COMMAND "${FPTOOL}" check "${payload}/dll/RESOURCE.dll" "${payload}/LMH.exe"
    DEPENDS "${sample_new}/LMH.exe" "${sample_new}/dll/RESOURCE.dll" "${FPTOOL}"
    COMMENT "Large payload for ${target}: the new sample version grown to ${size} bytes"
    VERBATIM)
  add_updater(${target} "${payload}" "${dir}/generated" "${dir}/bin" EXCLUDE_FROM_ALL)
  add_custom_target(${target}_payload DEPENDS ${files})
  add_dependencies(${target} ${target}_payload)
endfunction()

# The demonstration: 192 MiB keeps the progress window on screen long enough
# to be seen; its files travel compressed.   cmake --build build/windows --target UpDateDemo
set(DEMO_PAYLOAD_SIZE 201326592 CACHE STRING "Size in bytes of the demonstration's game executable")
demo_updater(UpDateDemo ${DEMO_PAYLOAD_SIZE} "${CMAKE_BINARY_DIR}/demo" zstd)
# The whole-run benchmark's larger case, where the fixed cost of showing the
# windows weighs least.   cmake --build build/windows --target UpDateBench768
demo_updater(UpDateBench768 805306368 "${CMAKE_BINARY_DIR}/bench768")

# The sample's update with its files compressed, beside the stored one, for
# the end-to-end tests: build/windows/zstd/bin/UpDate.exe.
function(compressed_sample_updater)
  set(UPDATE_PAYLOAD_COMPRESSION zstd)
  add_updater(UpDateZstd "${CMAKE_BINARY_DIR}/sample/new" "${CMAKE_BINARY_DIR}/zstd/generated"
              "${CMAKE_BINARY_DIR}/zstd/bin")
endfunction()
