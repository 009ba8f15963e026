# NTFS engine harnesses: one FILE record through CNtfs, the attribute walk, the update sequence
# fixups, the run-list decoder and its CNtfs form, and a whole scan of a small volume.
foreach(name NtfsRecordFuzz NtfsAttributesFuzz NtfsFixupFuzz NtfsRunListFuzz NtfsRunsFuzz
             NtfsScanFuzz)
    orl_add_fuzzer(NAME ${name} SOURCE ${CMAKE_CURRENT_LIST_DIR}/ntfs/${name}.cpp
                   LIBS orl_scan orl_ntfs)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endforeach()
