# The deltas of an update build: for each earlier version the description
# names (FileNEarlierM, tools/update_deltas.py), one zstd frame made with the
# build machine's zstd against that version, at fixed parameters and on one
# thread so that two builds give the same bytes, behind a header that
# identifies the version (fptool delta). Each becomes the payload resource
# "<NAME>$<M>" (unquoted: the resource compiler would join a quoted name to
# the file name before it).
#
#   updater_deltas(DIR GENERATED_DIR RC_VAR FILES_VAR HASHED_VAR)
# appends the deltas' resource lines to RC_VAR, their files to FILES_VAR and
# their `fptool hashes` items to HASHED_VAR.
#   updater_carries_whole(ENTRY RESULT_VAR)
# sets RESULT_VAR to whether the payload file ENTRY travels whole.
find_program(ZSTD_ENCODER zstd)
set(UPDATE_DELTA_LEVEL 19)

function(updater_carries_whole entry result)
  set(whole TRUE)
  if(NOT UPDATE_WHOLE_FILES)
    list(LENGTH UPDATE_DELTAS count)
    set(i 0)
    while(i LESS count)
      list(GET UPDATE_DELTAS ${i} delta_entry)
      if(delta_entry STREQUAL entry)
        set(whole FALSE)
      endif()
      math(EXPR i "${i} + 3")
    endwhile()
  endif()
  set(${result} ${whole} PARENT_SCOPE)
endfunction()

function(updater_deltas dir generated rc_var files_var hashed_var)
  set(rc "${${rc_var}}")
  set(files "${${files_var}}")
  set(hashed "${${hashed_var}}")
  list(LENGTH UPDATE_DELTAS count)
  if(count GREATER 0 AND NOT ZSTD_ENCODER)
    message(FATAL_ERROR "The description names earlier versions, but the zstd program that makes deltas is missing (tools/setup.sh installs it)")
  endif()
  set(i 0)
  while(i LESS count)
    list(SUBLIST UPDATE_DELTAS ${i} 3 triple)
    list(GET triple 0 entry)
    list(GET triple 1 number)
    list(GET triple 2 earlier)
    get_filename_component(resource "${entry}" NAME)
    string(TOUPPER "${resource}" resource)
    set(out "${generated}/deltas/${resource}.delta${number}")
    add_custom_command(
      OUTPUT "${out}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${generated}/deltas"
      COMMAND "${ZSTD_ENCODER}" -${UPDATE_DELTA_LEVEL} --single-thread -qq -f --no-progress
              "--patch-from=${earlier}" "${dir}/${entry}" -o "${out}.zst"
      COMMAND "${FPTOOL}" delta "${earlier}" "${out}.zst" "${out}"
      COMMAND "${CMAKE_COMMAND}" -E rm -f "${out}.zst"
      DEPENDS "${earlier}" "${dir}/${entry}" "${FPTOOL}"
      COMMENT "Delta of ${entry} against ${earlier}"
      VERBATIM)
    string(APPEND rc "${resource}$${number} BIN \"${out}\"\n")
    list(APPEND files "${out}")
    list(APPEND hashed delta "${resource}$${number}" "${out}" "${dir}/${entry}")
    math(EXPR i "${i} + 3")
  endwhile()
  set(${rc_var} "${rc}" PARENT_SCOPE)
  set(${files_var} "${files}" PARENT_SCOPE)
  set(${hashed_var} "${hashed}" PARENT_SCOPE)
endfunction()
