# The command-line program: bootinfo's decoding of sector 0 and its text and JSON forms.
orl_add_fuzzer(NAME fuzz_bootinfo SOURCE ${CMAKE_CURRENT_LIST_DIR}/BootInfoFuzz.cpp LIBS orl_cli)
# The command line's output of names read from volumes: JSON and terminal-safe text.
orl_add_fuzzer(NAME fuzz_cli_text SOURCE ${CMAKE_CURRENT_LIST_DIR}/CliTextFuzz.cpp LIBS orl_cli)
