# The program and its fault-injecting build, driven from outside through their windows.
add_dependencies(${TEST_TARGET} Burnwright BurnwrightFaults)
target_compile_definitions(${TEST_TARGET} PRIVATE
    BURNWRIGHT_EXE="$<TARGET_FILE:Burnwright>"
    BURNWRIGHT_FAULTS_EXE="$<TARGET_FILE:BurnwrightFaults>")
list(APPEND TEST_PROPERTIES RESOURCE_LOCK display)
