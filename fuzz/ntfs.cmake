# NTFS engine harnesses: one FILE record, one run list, and a whole scan of a small volume.
foreach(name NtfsRecordFuzz NtfsRunsFuzz NtfsScanFuzz)
    orl_add_fuzzer(NAME ${name} SOURCE ${CMAKE_CURRENT_LIST_DIR}/ntfs/${name}.cpp
                   LIBS orl_scan orl_ntfs)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endforeach()
