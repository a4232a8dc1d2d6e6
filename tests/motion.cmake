# Rigid-body geometry and the motion series.
tessel_add_test(rigid_body_test SOURCES rigid_body_test.cpp LIBS tessel_core)
