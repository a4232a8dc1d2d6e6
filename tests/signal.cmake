# Measures of a run's voxel data: DVARS, the non-steady-state detection and
# the statistics beneath them.
tessel_add_test(signal_dvars_test SOURCES signal_dvars_test.cpp
  LIBS tessel_signal tessel_examples tessel_test_support)
tessel_add_test(signal_statistics_test SOURCES signal_statistics_test.cpp LIBS tessel_signal)
tessel_add_test(signal_non_steady_state_test SOURCES signal_non_steady_state_test.cpp
  LIBS tessel_signal tessel_examples tessel_test_support)
