# The search for lost volumes on whole disks: boot sectors and their backups at alignments.
orl_add_fuzzer(NAME fuzz_lost_volumes SOURCE ${CMAKE_CURRENT_LIST_DIR}/LostVolumesFuzz.cpp
               LIBS orl_platform)
