# The NTFS deep search: records of an earlier MFT past the current one and index names, over a
# small template volume.
orl_add_fuzzer(NAME NtfsDeepFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/ntfs/NtfsDeepFuzz.cpp
               LIBS orl_scan orl_ntfs)
target_include_directories(NtfsDeepFuzz PRIVATE ${PROJECT_SOURCE_DIR}/tests)
