# A real run over all of the machine's available memory: alone, since it takes
# most of the memory the other tests would use.
set(TEST_PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
