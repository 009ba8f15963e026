# Carving's header search (headers, text clusters, the scan of blocks) and its gap search over
# arbitrary bytes.
orl_add_fuzzer(NAME fuzz_header_search SOURCE ${CMAKE_CURRENT_LIST_DIR}/HeaderSearchFuzz.cpp
               LIBS orl_carve)
