# The NTFS index-record reader over one record, as found anywhere on a volume.
orl_add_fuzzer(NAME IndexRecordFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/IndexRecordFuzz.cpp
               LIBS orl_ntfs)
