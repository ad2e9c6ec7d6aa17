# Share listings and folder-contents replies from peers, and listings as
# stored for browsing.
quorvale_add_fuzzer(fuzz_user_share fuzz_user_share.cpp)
