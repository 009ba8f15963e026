# The FAT deep search over mutated small volumes.
orl_add_fuzzer(NAME fuzz_fat_deep SOURCE ${CMAKE_CURRENT_LIST_DIR}/FatDeepFuzz.cpp LIBS orl_scan)
