# The program and its fault-injecting build, driven from outside through their windows.
add_dependencies(${TEST_TARGET} Burnwright BurnwrightFaults)
target_compile_definitions(${TEST_TARGET} PRIVATE
    BURNWRIGHT_EXE="$<TARGET_FILE:Burnwright>"
    BURNWRIGHT_FAULTS_EXE="$<TARGET_FILE:BurnwrightFaults>")
set(TEST_PROPERTIES TIMEOUT 300 RESOURCE_LOCK display)
