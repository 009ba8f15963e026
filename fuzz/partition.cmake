# Partition tables of whole disks: MBR, extended boot record chains and GPT.
orl_add_fuzzer(NAME fuzz_partition_table SOURCE ${CMAKE_CURRENT_LIST_DIR}/PartitionTableFuzz.cpp
               LIBS orl_platform)
