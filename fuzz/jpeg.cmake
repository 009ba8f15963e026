# The JPEG validator of carving and the content checks: marker walk and decode.
orl_add_fuzzer(NAME fuzz_jpeg_check SOURCE ${CMAKE_CURRENT_LIST_DIR}/JpegCheckFuzz.cpp
               LIBS orl_carve)
