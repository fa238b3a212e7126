# Writes the status page (IN) as a C++ string constant into OUT.
file(READ ${IN} page)
string(FIND "${page}" ")vornpage\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} holds the string's end marker")
endif()
file(WRITE ${OUT} "// Made from monitor/page.html by embed_page.cmake.\nnamespace monitor {\nextern const char kStatusPage[];\nconst char kStatusPage[] = R\"vornpage(${page})vornpage\";\n}\n")
