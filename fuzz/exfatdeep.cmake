# The exFAT deep search over a hostile heap: loose entry sets and the tree rebuilt from them.
orl_add_fuzzer(NAME fuzz_exfat_deep SOURCE ${CMAKE_CURRENT_LIST_DIR}/ExfatDeepFuzz.cpp LIBS orl_scan)
