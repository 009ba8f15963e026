# The picture, camera-raw, video and audio validators and the EXIF date taken over any bytes.
orl_add_fuzzer(NAME MediaCheckFuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/MediaCheckFuzz.cpp
               LIBS orl_carve)
