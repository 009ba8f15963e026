# The readers of a find's bytes that the engines hand out to a copy.
orl_add_fuzzer(NAME fuzz_stream_reader SOURCE ${CMAKE_CURRENT_LIST_DIR}/StreamReaderFuzz.cpp
               LIBS orl_scan)
