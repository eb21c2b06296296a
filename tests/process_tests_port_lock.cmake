# Read by CTest after the discovered tests. The process tests run the real
# program against its built-in download host and expect nothing to answer
# there; they must not overlap the tests that serve the demo mirror on that
# port, which hold the same lock.
if(DEFINED rscdc_process_test_TESTS)
  set_tests_properties(${rscdc_process_test_TESTS} PROPERTIES RESOURCE_LOCK port-8711)
endif()
