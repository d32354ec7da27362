# The program as built, driven from outside through its windows.
add_dependencies(${TEST_TARGET} Burnwright)
target_compile_definitions(${TEST_TARGET} PRIVATE BURNWRIGHT_EXE="$<TARGET_FILE:Burnwright>")
list(APPEND TEST_PROPERTIES RESOURCE_LOCK display)
