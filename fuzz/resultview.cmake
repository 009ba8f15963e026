# Result view: listing and browsing over found items with hostile names and times.
orl_add_fuzzer(NAME fuzz_result_view SOURCE ${CMAKE_CURRENT_LIST_DIR}/ResultViewFuzz.cpp
               LIBS orl_catalog)
