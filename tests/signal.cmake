# Measures of a run's voxel data: DVARS, the non-steady-state detection and
# the statistics beneath them.
tessel_add_test(signal_dvars_test SOURCES signal_dvars_test.cpp
  LIBS tessel_signal tessel_examples tessel_test_support)
