# The fuzz targets: fuzz/fuzz_<name>.cpp, corpus fuzz/corpus/<name>,
# regressions fuzz/regressions/<name>.
set(FUZZ_TARGETS hex_text checksum pe_resources entry_list_merge profile_text switch_journal payload_decode delta_decode)
