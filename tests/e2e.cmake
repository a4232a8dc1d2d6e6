# Fault injection under the tasks, through the host simulator.
tessel_add_test(e2e_faults_test SOURCES e2e_faults_test.cpp
                LIBS tessel_test_support tessel_examples tessel_tasks)
