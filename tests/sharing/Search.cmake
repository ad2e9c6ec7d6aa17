# tests for answering searches: the query language, matching against the
# token index, who sees what, and the answer's bytes.
quorvale_add_test(sharing_search_parser SearchParserTest.cpp)
quorvale_add_test(sharing_search_answer SearchAnswerTest.cpp SharingTestSupport.h)
