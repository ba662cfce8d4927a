# Turns a string-table text file into a C++ source defining one char array.
file(READ "${INPUT}" content)
string(FIND "${content}" ")LUMAREST_STRINGS\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter")
endif()
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\nextern const char ${SYMBOL}[];\nconst char ${SYMBOL}[] = R\"LUMAREST_STRINGS(${content})LUMAREST_STRINGS\";\n")
