# NTFS engine harnesses: one FILE record through CNtfs, the attribute walk, the update sequence
# fixups, the run-list decoder and its CNtfs form, a whole scan of a small volume, LZNT1
# decompression and the attribute list decoder.
foreach(name NtfsRecordFuzz NtfsAttributesFuzz NtfsFixupFuzz NtfsRunListFuzz NtfsRunsFuzz
             NtfsScanFuzz NtfsLznt1Fuzz NtfsAttributeListFuzz)
    orl_add_fuzzer(NAME ${name} SOURCE ${CMAKE_CURRENT_LIST_DIR}/ntfs/${name}.cpp
                   LIBS orl_scan orl_ntfs)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endforeach()
