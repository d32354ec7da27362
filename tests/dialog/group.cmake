# The dialog's resources and the live dialog, in this process: the template and
# icon come from the same resource script as the product's.
target_sources(${TEST_TARGET} PRIVATE ${BURNWRIGHT_RC})
list(APPEND TEST_PROPERTIES RESOURCE_LOCK display)
