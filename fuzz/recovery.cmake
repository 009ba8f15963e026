# Recovery: the resident value of an MFT record and the runs of a run list.
orl_add_fuzzer(NAME fuzz_recovery_data SOURCE ${CMAKE_CURRENT_LIST_DIR}/RecoveryDataFuzz.cpp
               LIBS orl_recovery orl_ntfs)
