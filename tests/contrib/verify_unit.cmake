# Fails when systemd-analyze finds fault with the unit. It runs on a copy
# whose ExecStart is the program just built (the installed path need not
# exist here), and any complaint counts: systemd-analyze reports unknown keys
# and values it cannot parse but still exits 0.
# cmake -DANALYZE=<systemd-analyze> -DUNIT=<the unit> -DPROGRAM=<vornacq4>
#       -DWORK=<a directory for the copy> -P verify_unit.cmake
file(READ ${UNIT} text)
string(REGEX REPLACE "\nExecStart=[^\n]*" "\nExecStart=${PROGRAM}" copy "${text}")
if(copy STREQUAL text)
  message(FATAL_ERROR "${UNIT} has no ExecStart line")
endif()
get_filename_component(name ${UNIT} NAME)
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/${name} "${copy}")
execute_process(COMMAND ${ANALYZE} verify --man=no ${WORK}/${name}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR out MATCHES "${name}")
  message(FATAL_ERROR "systemd-analyze verify ${name}:\n${out}")
endif()
