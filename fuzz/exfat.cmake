# exFAT boot region (with its checksum and backup) and the entry-set decoder over folder bytes.
orl_add_fuzzer(NAME ExfatBootFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/ExfatBootFuzz.cpp LIBS orl_exfat)
orl_add_fuzzer(NAME ExfatEntrySetFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/ExfatEntrySetFuzz.cpp
               LIBS orl_exfat)
orl_add_fuzzer(NAME fuzz_exfat_scan SOURCE ${CMAKE_CURRENT_LIST_DIR}/ExfatScanFuzz.cpp LIBS orl_scan)
