# The functional run's header reader and STC data reader.
tessel_add_test(fmr_header_test SOURCES fmr_header_test.cpp
  LIBS tessel_fmr tessel_examples tessel_test_support)
tessel_add_test(fmr_stc_test SOURCES fmr_stc_test.cpp
  LIBS tessel_fmr tessel_examples tessel_test_support)
tessel_add_test(fmr_voxel_mask_test SOURCES fmr_voxel_mask_test.cpp LIBS tessel_fmr)
tessel_add_test(fmr_stc_slice_reader_test SOURCES fmr_stc_slice_reader_test.cpp
  LIBS tessel_fmr tessel_examples tessel_test_support)
