# The document, archive, database and text validators of carving and the content checks.
orl_add_fuzzer(NAME DocCheckFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/DocCheckFuzz.cpp LIBS orl_carve)
