# tests for the index: scanning and rescanning folders on disk, the words
# files are found by, who may see which root, and which paths a peer may
# name; each runs the whole program headless once.
quorvale_add_test(sharing_index ShareIndexTest.cpp ShareTestSupport.h)
quorvale_add_test(sharing_access ShareAccessTest.cpp ShareTestSupport.h)
