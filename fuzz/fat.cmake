# FAT boot sector decoding, and the FAT window with its cluster states over small volumes.
orl_add_fuzzer(NAME FatBootFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/FatBootFuzz.cpp LIBS orl_fat)
orl_add_fuzzer(NAME FatTableFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/FatTableFuzz.cpp LIBS orl_fat)
