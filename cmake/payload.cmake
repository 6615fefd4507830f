# The payload of an UpDate.exe build: the resource script that embeds the
# files (stored whole, or compressed with the build machine's zstd when the
# description asks for it) and the table of their hashes (fptool hashes,
# install/source/payload_hashes_format.h), and the check that the payload's fingerprint module describes the
# payload's game executable. An update that would leave the installation
# failing its own verification must never be built.
#
#   updater_payload(NAME DIR GENERATED_DIR FILES_VAR)
# writes GENERATED_DIR/payload.rc, sets FILES_VAR to the payload files and
# NAME_payload_checked to the check's stamp file, and adds target NAME_payload_check.
include(cmake/deltas.cmake)
function(updater_payload name dir generated files_var)
  set(files "")
  set(frames "")
  # KIND NAME CARRIED DECODED for each resource, as `fptool hashes` takes them.
  set(hashed "")
  set(rc "// Made by the build from ${dir}; included by updater.rc.\nLANGUAGE 0x11, 0x1\n")
  foreach(entry IN LISTS UPDATE_PAYLOAD_ENTRIES)
    get_filename_component(resource "${entry}" NAME)
    string(TOUPPER "${resource}" resource)
    list(APPEND files "${dir}/${entry}")
    updater_carries_whole("${entry}" whole)
    if(NOT whole)
      # Deltas only: the file travels as its deltas (updater_deltas below).
    elseif(UPDATE_PAYLOAD_COMPRESSION STREQUAL "zstd")
      find_program(ZSTD_PROGRAM zstd REQUIRED)
      # One frame per file that declares its size and carries its checksum,
      # at most 8 MiB of history, one thread: the same bytes every time.
      set(frame "${generated}/frames/${resource}.zst")
      add_custom_command(
        OUTPUT "${frame}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${generated}/frames"
        COMMAND "${ZSTD_PROGRAM}" -q -f -19 --zstd=wlog=23 -T1 --content-size --check --no-progress
                "${dir}/${entry}" -o "${frame}"
        DEPENDS "${dir}/${entry}"
        COMMENT "Compressing ${entry}"
        VERBATIM)
      list(APPEND frames "${frame}")
      string(APPEND rc "${resource} ZST \"${frame}\"\n")
      list(APPEND hashed frame "${resource}" "${frame}" "${dir}/${entry}")
    else()
      string(APPEND rc "${resource} BIN \"${dir}/${entry}\"\n")
      list(APPEND hashed stored "${resource}" "${dir}/${entry}" "${dir}/${entry}")
    endif()
  endforeach()
  updater_deltas("${dir}" "${generated}" rc frames hashed)
  if(NOT UPDATE_ENTRY_LIST STREQUAL "")
    string(TOUPPER "${UPDATE_ENTRY_LIST}" resource)
    list(APPEND files "${dir}/${UPDATE_ENTRY_LIST}")
    string(APPEND rc "${resource} BIN \"${dir}/${UPDATE_ENTRY_LIST}\"\n")
    list(APPEND hashed stored "${resource}" "${dir}/${UPDATE_ENTRY_LIST}" "${dir}/${UPDATE_ENTRY_LIST}")
  endif()
  # Every resource above as carried and as the file it gives, so that the
  # run refuses a download damaged on its way and checks each new file.
  set(hashes "${generated}/payload.hashes")
  add_custom_command(
    OUTPUT "${hashes}"
    COMMAND "${FPTOOL}" hashes "${hashes}" ${hashed}
    DEPENDS ${files} ${frames} "${FPTOOL}"
    COMMENT "Hashing every payload resource as carried and as written"
    VERBATIM)
  string(APPEND rc "PAYLOAD HASH \"${hashes}\"\n")
  file(MAKE_DIRECTORY "${generated}")
  file(CONFIGURE OUTPUT "${generated}/payload.rc" CONTENT "${rc}")

  set(checked "${generated}/payload.checked")
  add_custom_command(
    OUTPUT "${checked}"
    COMMAND "${FPTOOL}" check "${dir}/dll/RESOURCE.dll" "${dir}/${UPDATE_GAME_EXECUTABLE}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${checked}"
    DEPENDS ${files} ${frames} "${hashes}" "${FPTOOL}"
    COMMENT "Checking that the payload's fingerprint module describes its ${UPDATE_GAME_EXECUTABLE}"
    VERBATIM)
  add_custom_target(${name}_payload_check DEPENDS "${checked}")
  set(${files_var} "${files}" PARENT_SCOPE)
  set(${name}_payload_checked "${checked}" PARENT_SCOPE)
endfunction()
