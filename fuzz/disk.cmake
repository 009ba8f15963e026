# Sector access: the byte-range logic shared by the device and memory readers.
orl_add_fuzzer(NAME fuzz_mem_rw SOURCE ${CMAKE_CURRENT_LIST_DIR}/Mem_RWFuzz.cpp LIBS orl_disk)
