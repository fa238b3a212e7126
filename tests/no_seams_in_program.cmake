# Fails when the program carries a test seam: the seams are engine_seams',
# which only tests and tools link, never the logger itself.
# cmake -DNM=<nm> -DPROGRAM=<the vornacq4 binary> -P no_seams_in_program.cmake
execute_process(COMMAND ${NM} -C ${PROGRAM} RESULT_VARIABLE result OUTPUT_VARIABLE symbols ERROR_VARIABLE error)
# A list without the engine's own symbols would let anything pass.
if(NOT result EQUAL 0 OR NOT symbols MATCHES "RunUserInterface")
  message(FATAL_ERROR "cannot read the symbols of ${PROGRAM}: ${error}")
endif()
string(REGEX MATCHALL "[^\n]*[Ss][Ee][Aa][Mm][^\n]*" seams "${symbols}")
if(seams)
  list(JOIN seams "\n" lines)
  message(FATAL_ERROR "${PROGRAM} carries test seams:\n${lines}")
endif()
