# Runs fptool's commands on scratch files: cmake -DFPTOOL=... -DWORK=... -P
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(expect_run expected_result)
  execute_process(COMMAND "${FPTOOL}" ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected_result STREQUAL "0" AND NOT result EQUAL 0)
    message(FATAL_ERROR "fptool ${ARGN} failed (${result}): ${err}")
  elseif(expected_result STREQUAL "fail" AND result EQUAL 0)
    message(FATAL_ERROR "fptool ${ARGN} succeeded but should have failed: ${out}")
  endif()
  set(last_out "${out}" PARENT_SCOPE)
  set(last_err "${err}" PARENT_SCOPE)
endfunction()

# A module without a self record: refused, with a reason, byte for byte kept.
file(WRITE "${WORK}/module.dll" "MZ but no program, no resources, no self record")
file(COPY_FILE "${WORK}/module.dll" "${WORK}/original.dll")
expect_run(fail stamp "${WORK}/module.dll")
if(NOT last_err MATCHES "RESOURCE.dll")
  message(FATAL_ERROR "the refusal does not say what is missing: ${last_err}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/module.dll" "${WORK}/original.dll"
                RESULT_VARIABLE differs)
if(differs OR EXISTS "${WORK}/module.dll.fptool-tmp")
  message(FATAL_ERROR "a refused stamp changed the module or left a temporary file")
endif()
expect_run(fail check "${WORK}/module.dll")

# Pad to a size and pair, then record reads that pair back; a pair the
# room cannot reach is refused and changes nothing.
file(WRITE "${WORK}/game.exe" "a small game of at most 1700 bytes")
file(COPY_FILE "${WORK}/game.exe" "${WORK}/original.exe")
expect_run(fail pad "${WORK}/game.exe" 1700 027e8a16 d49f3f5a)
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/game.exe" "${WORK}/original.exe"
                RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "a refused pad changed the file")
endif()
expect_run(0 pad "${WORK}/game.exe" 1700 0001a420 1E279CE7)
expect_run(0 record "${WORK}/game.exe")
file(SIZE "${WORK}/game.exe" size)
if(NOT size EQUAL 1700 OR NOT last_out STREQUAL "0001a4201e279ce7\n")
  message(FATAL_ERROR "after pad: ${size} bytes, record ${last_out}")
endif()
