# Rigid-body geometry and the motion series.
tessel_add_test(rigid_body_test SOURCES rigid_body_test.cpp LIBS tessel_motion)

# Volumes, the motion series, the displacement kernel and task.
tessel_add_test(volume_test SOURCES volume_test.cpp LIBS tessel_motion)
tessel_add_test(motion_series_test SOURCES motion_series_test.cpp LIBS tessel_motion)
tessel_add_test(displacement_kernel_test SOURCES displacement_kernel_test.cpp LIBS tessel_test_support tessel_motion)
# The displacement task in-process, through the recording host.
tessel_add_test(displacement_task_test SOURCES displacement_task_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
tessel_add_test(e2e_displacement_test SOURCES e2e_displacement_test.cpp LIBS tessel_test_support tessel_examples)

# The plain whole-grid computation the fast kernel is checked against (also
# used by the benchmark).
target_sources(tessel_test_support PRIVATE support/reference_displacement.cpp)
