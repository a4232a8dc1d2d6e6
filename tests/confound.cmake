# Predictor transforms and the confound task.
tessel_add_test(predictor_transforms_test SOURCES predictor_transforms_test.cpp LIBS tessel_confound)
# The confound task in-process, through a recording host.
tessel_add_test(confound_task_test SOURCES confound_task_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
# The confound task end to end, through the host simulator.
tessel_add_test(e2e_confound_test SOURCES e2e_confound_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
# Spike flagging, QC measures and the combined model.
tessel_add_test(spike_flags_test SOURCES spike_flags_test.cpp LIBS tessel_confound)
tessel_add_test(qc_measures_test SOURCES qc_measures_test.cpp LIBS tessel_confound tessel_motion)
tessel_add_test(combined_model_test SOURCES combined_model_test.cpp LIBS tessel_confound)
# The confound task's scrubbing options and the study's QC table, in-process.
tessel_add_test(confound_scrubbing_test SOURCES confound_scrubbing_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
# The spike model and the chain of motion models.
tessel_add_test(motion_models_test SOURCES motion_models_test.cpp LIBS tessel_confound)
# The motion filters against scipy's designs and filtfilt.
tessel_add_test(motion_filter_test SOURCES motion_filter_test.cpp LIBS tessel_confound)
# The confounds table and its sidecar.
tessel_add_test(confounds_table_test SOURCES confounds_table_test.cpp LIBS tessel_confound)
# The confound task's signal and censoring options, in-process.
tessel_add_test(confound_signal_test SOURCES confound_signal_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
