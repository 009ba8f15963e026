# The Recycle Bin's records ($I files, INFO2) over arbitrary bytes.
orl_add_fuzzer(NAME fuzz_recycle_records SOURCE ${CMAKE_CURRENT_LIST_DIR}/RecycleRecordsFuzz.cpp
               LIBS orl_scan)
