# The cluster assignment of deleted finds over random layouts.
orl_add_fuzzer(NAME fuzz_cluster_assignment SOURCE ${CMAKE_CURRENT_LIST_DIR}/ClusterAssignmentFuzz.cpp
               LIBS orl_scan)
