# The volume probe over a read callback, as Expert Witness media are probed.
orl_add_fuzzer(NAME fuzz_probe_through SOURCE ${CMAKE_CURRENT_LIST_DIR}/ProbeThroughFuzz.cpp
               LIBS orl_platform)
