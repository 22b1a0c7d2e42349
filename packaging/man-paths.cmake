# Copies manual page IN to OUT with the install's folders (and the version, when given) filled in.
file(READ ${IN} page)
string(REPLACE "@HELPDIR@" "${HELPDIR}" page "${page}")
if(DEFINED VERSION)
  string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
endif()
file(WRITE ${OUT} "${page}")
