# Design-matrix files: path functions, complete-or-absent writes, SDM and MDM
# documents, the motion-parameter source (with a fake of the host's dialog).
tessel_add_test(designmatrix_path_test SOURCES designmatrix_path_test.cpp LIBS tessel_designmatrix)
tessel_add_test(designmatrix_atomic_file_test SOURCES designmatrix_atomic_file_test.cpp
                LIBS tessel_test_support tessel_designmatrix)
tessel_add_test(designmatrix_sdm_test SOURCES designmatrix_sdm_test.cpp
                LIBS tessel_test_support tessel_examples tessel_designmatrix)
tessel_add_test(designmatrix_mdm_test SOURCES designmatrix_mdm_test.cpp
                LIBS tessel_test_support tessel_examples tessel_designmatrix)
# The file choice task in-process, through the recording host.
tessel_add_test(select_motion_file_test SOURCES select_motion_file_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
# The file choice task end to end, through the host simulator.
tessel_add_test(e2e_select_test SOURCES e2e_select_test.cpp
                LIBS tessel_test_support tessel_examples tessel_designmatrix)
