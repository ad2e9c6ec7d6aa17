# tests for share listings: what we list for a peer, folder contents, and
# the listings peers send us as stored for browsing.
quorvale_add_test(sharing_listing ShareListingTest.cpp SharingTestSupport.h)
