# Predictor transforms, the motion plot and the confound task.
tessel_add_test(predictor_transforms_test SOURCES predictor_transforms_test.cpp LIBS tessel_core)
tessel_add_test(motion_plot_test SOURCES motion_plot_test.cpp LIBS tessel_host)
