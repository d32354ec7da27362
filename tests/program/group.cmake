# The program and its fault-injecting build, driven from outside through their windows.
add_dependencies(${TEST_TARGET} Burnwright BurnwrightFaults)
target_compile_definitions(${TEST_TARGET} PRIVATE
    BURNWRIGHT_EXE="$<TARGET_FILE:Burnwright>"
    BURNWRIGHT_FAULTS_EXE="$<TARGET_FILE:BurnwrightFaults>")
# One at a time and alone: they share the display, and their waits and the
# window's answering times must not depend on a unit test's workers beside them.
set(TEST_PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
