# FAT directory entries and the FAT deleted-entry scan over mutated small volumes.
orl_add_fuzzer(NAME fuzz_fat_dir SOURCE ${CMAKE_CURRENT_LIST_DIR}/FatDirFuzz.cpp LIBS orl_scan)
orl_add_fuzzer(NAME fuzz_fat_scan SOURCE ${CMAKE_CURRENT_LIST_DIR}/FatScanFuzz.cpp LIBS orl_scan)
