# The sample game in two versions, old and new, each as an installation
# folder: LMH.exe, story.txt and dll/RESOURCE.dll, the fingerprint module
# with their records. The new version is the updater's default payload and
# is shaped to the figures the updater's documentation gives (see
# sample/check_figures.cmake). Also a hostile module for the security tests.
if(NOT FPTOOL)
  message(FATAL_ERROR "FPTOOL must name the host fptool (build/native/bin/fptool); tools/build.sh sets it")
endif()

set(SAMPLE_DIR "${CMAKE_BINARY_DIR}/sample")
set(sample_work "${CMAKE_BINARY_DIR}/sample_work")
set(sample_src "${PROJECT_SOURCE_DIR}/sample")

# The new version's figures.
set(SAMPLE_NEW_GAME_SIZE 393728)
set(SAMPLE_NEW_GAME_SUM 027e8a16)
set(SAMPLE_NEW_GAME_XOR d49f3f5a)
set(SAMPLE_NEW_MODULE_SIZE 2560)
set(SAMPLE_NEW_MODULE_SUM 0001a420)
set(SAMPLE_NEW_MODULE_XOR 1e279ce7)
# The resource data of a module lands on 8-byte steps from the section
# start, so the self record's resource starts at 1320 with four zero bytes
# that `fptool trim` drops: the record itself then starts at 1324, its
# window at 1328. PADDING (zeros) puts it there; TRAILER fills the section
# up to 2560 bytes and is solved for the module's checksum.
set(SAMPLE_NEW_RECORD_OFFSET 1324)
set(sample_new_padding_bytes 416)
set(sample_new_trailer_bytes 1184)

# Resource-only modules come from the one recipe that make_module.sh and
# the tests use too.
set(link_module "${PROJECT_SOURCE_DIR}/tools/link_module.sh")
set(resource_only_script "${PROJECT_SOURCE_DIR}/tools/resource_only.ld")
separate_arguments(rc_flags NATIVE_COMMAND "${CMAKE_RC_FLAGS}")

function(sample_zero_words out count)
  string(REPEAT "0, " ${count} words)
  set(${out} "${words}0" PARENT_SCOPE)  # one more: `count` + 1 words of 2 bytes
endfunction()

function(sample_version version version_text)
  set(out "${SAMPLE_DIR}/${version}")
  set(work "${sample_work}/${version}")

  add_executable(lmh_${version} WIN32 "${sample_src}/lmh.cpp")
  target_compile_definitions(lmh_${version} PRIVATE "LMH_VERSION_TEXT=\"${version_text}\"")
  target_compile_options(lmh_${version} PRIVATE -Os)
  target_link_options(lmh_${version} PRIVATE -mwindows -s -Wl,--no-insert-timestamp)
  set_target_properties(lmh_${version} PROPERTIES OUTPUT_NAME LMH RUNTIME_OUTPUT_DIRECTORY "${work}")

  set(game_steps COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:lmh_${version}>" "${out}/LMH.exe")
  if(version STREQUAL "new")
    list(APPEND game_steps COMMAND "${FPTOOL}" pad "${out}/LMH.exe" ${SAMPLE_NEW_GAME_SIZE} ${SAMPLE_NEW_GAME_SUM}
         ${SAMPLE_NEW_GAME_XOR})
  endif()
  add_custom_command(OUTPUT "${out}/LMH.exe" ${game_steps}
                     DEPENDS lmh_${version} "${FPTOOL}"
                     COMMENT "Sample game ${version}: LMH.exe"
                     VERBATIM)
  add_custom_command(OUTPUT "${out}/story.txt"
                     COMMAND "${CMAKE_COMMAND}" -E copy "${sample_src}/story.txt" "${out}/story.txt"
                     DEPENDS "${sample_src}/story.txt"
                     VERBATIM)

  set(lmh_record "${work}/LMH.exe.record")
  set(story_record "${work}/story.txt.record")
  add_custom_command(OUTPUT "${lmh_record}" "${story_record}"
                     COMMAND "${FPTOOL}" record "${out}/LMH.exe" "${lmh_record}"
                     COMMAND "${FPTOOL}" record "${out}/story.txt" "${story_record}"
                     DEPENDS "${out}/LMH.exe" "${out}/story.txt" "${FPTOOL}"
                     VERBATIM)

  set(extra_resources "")
  set(self_record_lead 0)
  set(self_record_head "")
  if(version STREQUAL "new")
    set(self_record_lead 4)
    set(self_record_head "0, 0, ")
    math(EXPR padding_words "${sample_new_padding_bytes} / 2 - 1")
    math(EXPR trailer_words "${sample_new_trailer_bytes} / 2 - 1")
    sample_zero_words(padding ${padding_words})
    sample_zero_words(trailer ${trailer_words})
    set(extra_resources "PADDING RCDATA\nBEGIN\n  ${padding}\nEND\nTRAILER RCDATA\nBEGIN\n  ${trailer}\nEND\n")
  endif()
  configure_file("${sample_src}/fingerprint.rc.in" "${work}/fingerprint.rc" @ONLY)

  set(module "${out}/dll/RESOURCE.dll")
  set(module_steps
      COMMAND bash "${link_module}" "${work}/fingerprint.rc" "${module}")
  if(version STREQUAL "new")
    math(EXPR window "${SAMPLE_NEW_RECORD_OFFSET} + 4")
    list(APPEND module_steps COMMAND "${FPTOOL}" trim "${module}" RESOURCE.dll ${self_record_lead})
    list(APPEND module_steps COMMAND "${FPTOOL}" pad "${module}" ${SAMPLE_NEW_MODULE_SIZE} ${SAMPLE_NEW_MODULE_SUM}
         ${SAMPLE_NEW_MODULE_XOR} --window ${window} --resource TRAILER)
  endif()
  list(APPEND module_steps
       COMMAND "${FPTOOL}" stamp "${module}"
       COMMAND "${FPTOOL}" check "${module}" "${out}/LMH.exe" "${out}/story.txt")
  add_custom_command(OUTPUT "${module}" ${module_steps}
                     DEPENDS "${work}/fingerprint.rc" "${lmh_record}" "${story_record}" "${link_module}" "${resource_only_script}"
                             "${FPTOOL}"
                     COMMENT "Sample game ${version}: dll/RESOURCE.dll"
                     VERBATIM)
  set(sample_outputs ${sample_outputs} "${out}/LMH.exe" "${out}/story.txt" "${module}" PARENT_SCOPE)
endfunction()

set(sample_outputs "")
sample_version(old "1.0")
sample_version(new "1.1")

# The hostile module: valid records of the old version and a stamped self
# record, but code that runs when loaded as a program library.
separate_arguments(fixed_dll_link NATIVE_COMMAND "${UPDATER_FIXED_DLL_LINK}")
set(evil_work "${sample_work}/evil")
set(lmh_record "${sample_work}/old/LMH.exe.record")
set(story_record "${sample_work}/old/story.txt.record")
set(extra_resources "")
configure_file("${sample_src}/fingerprint.rc.in" "${evil_work}/fingerprint.rc" @ONLY)
set(evil_module "${SAMPLE_DIR}/evil/dll/RESOURCE.dll")
add_custom_command(
  OUTPUT "${evil_module}"
  COMMAND "${CMAKE_RC_COMPILER}" ${rc_flags} -O coff "${evil_work}/fingerprint.rc" "${evil_work}/fingerprint.o"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${SAMPLE_DIR}/evil/dll"
  COMMAND "${CMAKE_C_COMPILER}" -Os -s -shared -nostdlib -Wl,-e,_EvilModuleEntry@12 ${fixed_dll_link} -I "${PROJECT_SOURCE_DIR}" "${sample_src}/evil_module.c"
          "${evil_work}/fingerprint.o" -lkernel32 -o "${evil_module}"
  COMMAND "${FPTOOL}" stamp "${evil_module}"
  COMMAND "${FPTOOL}" check "${evil_module}" "${SAMPLE_DIR}/old/LMH.exe" "${SAMPLE_DIR}/old/story.txt"
  DEPENDS "${evil_work}/fingerprint.rc" "${sample_src}/evil_module.c" "${PROJECT_SOURCE_DIR}/tests/leave_mark.h" "${lmh_record}" "${story_record}"
          "${SAMPLE_DIR}/old/LMH.exe" "${SAMPLE_DIR}/old/story.txt" "${FPTOOL}"
  COMMENT "Hostile fingerprint module for the security tests"
  VERBATIM)

# Fails the build when the default payload drifts from its figures.
set(figures_stamp "${sample_work}/figures.checked")
add_custom_command(
  OUTPUT "${figures_stamp}"
  COMMAND "${CMAKE_COMMAND}" -DFPTOOL=${FPTOOL} -DSAMPLE=${SAMPLE_DIR} -P "${sample_src}/check_figures.cmake"
  COMMAND "${CMAKE_COMMAND}" -E touch "${figures_stamp}"
  DEPENDS ${sample_outputs} "${evil_module}" "${sample_src}/check_figures.cmake"
  COMMENT "Checking the sample payload's figures"
  VERBATIM)

add_custom_target(sample_game ALL DEPENDS ${sample_outputs} "${evil_module}" "${figures_stamp}")
