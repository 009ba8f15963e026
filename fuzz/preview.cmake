# The wizard's finding aids: the preview's read of a find and its renderings, the filter rules.
orl_add_fuzzer(NAME fuzz_preview SOURCE ${CMAKE_CURRENT_LIST_DIR}/PreviewFuzz.cpp
               LIBS orl_recovery orl_scan)
